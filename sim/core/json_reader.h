/*
 * A small JSON reader: the scene files and the scene objects the probe is
 * given (scene.h). Strict RFC 8259 text, each value with the line it starts
 * on, so that a complaint can name it.
 */
#ifndef ZSIM_JSON_READER_H
#define ZSIM_JSON_READER_H

#include <string>
#include <utility>
#include <vector>

namespace zsim {

struct JsonValue {
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

    Type type = Type::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;                                        /* kString */
    std::vector<JsonValue> items;                            /* kArray */
    std::vector<std::pair<std::string, JsonValue>> members;  /* kObject, in the text's order */
    int line = 1;                                            /* where the value starts */

    /* The member `key` of an object, or null. */
    const JsonValue *find(const std::string &key) const;
};

/* Nesting deeper than this is refused (a scene needs three levels). */
constexpr int kJsonMaxDepth = 32;

/* Parses the whole of `text`. On failure returns false and says why in
 * `why`, starting with "line N: ". Strings
 * must be valid UTF-8 (escapes included). NaN, Infinity and -Infinity are
 * read as numbers (Python's json module writes them), so that the checks of
 * the value can name the field; any other number must fit a double. */
bool parse_json(const std::string &text, JsonValue &out, std::string &why);

} // namespace zsim

#endif /* ZSIM_JSON_READER_H */
