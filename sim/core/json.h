/*
 * A small JSON writer: the probe's journal lines and the settings report
 * (api::describe_settings) are written with it.
 */
#ifndef ZSIM_JSON_H
#define ZSIM_JSON_H

#include <string>

namespace zsim {

/* Appends values to `out`, with the separators between them. */
class Json {
public:
    explicit Json(std::string &out) : out_(out) {}
    void null();
    void integer(long long value);
    void unsigned_integer(unsigned long long value);
    void number(double value); /* shortest round trip; non-finite as strings */
    void text(const char *value); /* escaped string, null for a null pointer */
    void begin_array();
    void end_array();

private:
    void separate();
    std::string &out_;
    bool need_separator_ = false;
};

} // namespace zsim

#endif /* ZSIM_JSON_H */
