/*
 * A small JSON writer: the probe's journal lines, the settings report
 * (api::describe_settings) and the view's state (view/) are written with it.
 */
#ifndef ZSIM_JSON_H
#define ZSIM_JSON_H

#include <initializer_list>
#include <string>

namespace zsim {

/* Appends values to `out`, with the separators between them. */
class Json {
public:
    explicit Json(std::string &out) : out_(out) {}
    void null();
    void boolean(bool value);
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

/* A JSON object written member by member; closed when it goes out of scope. */
class JsonObject {
public:
    explicit JsonObject(std::string &out) : out_(out) { out_ += '{'; }
    ~JsonObject() { out_ += '}'; }
    JsonObject(const JsonObject &) = delete;
    JsonObject &operator=(const JsonObject &) = delete;

    /* Writes the member's name; the value goes into the string returned. */
    std::string &key(const char *name)
    {
        if (!first_)
            out_ += ", ";
        first_ = false;
        out_ += '"';
        out_ += name;
        out_ += "\": ";
        return out_;
    }
    void integer(const char *name, long long v) { Json(key(name)).integer(v); }
    void number(const char *name, double v) { Json(key(name)).number(v); }
    void text(const char *name, const std::string &v) { Json(key(name)).text(v.c_str()); }
    void numbers(const char *name, std::initializer_list<double> values)
    {
        Json j(key(name));
        j.begin_array();
        for (double v : values)
            j.number(v);
        j.end_array();
    }

private:
    std::string &out_;
    bool first_ = true;
};

} // namespace zsim

#endif /* ZSIM_JSON_H */
