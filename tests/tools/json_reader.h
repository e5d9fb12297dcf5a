// A small JSON reader for checking the tool's --json output: parses a whole
// text into a tree of values, or throws std::runtime_error naming the
// offset where the text stops being JSON.
#ifndef ZEP_TESTS_TOOLS_JSON_READER_H
#define ZEP_TESTS_TOOLS_JSON_READER_H

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tooltest {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    // Member or item access that throws when absent, so a test fails cleanly.
    const Json &operator[](const std::string &k) const
    {
        auto it = members.find(k);
        if (kind != Object || it == members.end()) throw std::runtime_error("no member " + k);
        return it->second;
    }
    const Json &operator[](std::size_t i) const
    {
        if (kind != Array || i >= items.size()) throw std::runtime_error("no item");
        return items[i];
    }
    bool has(const std::string &k) const { return kind == Object && members.count(k) != 0; }
};

class JsonParser {
  public:
    static Json parse(const std::string &s)
    {
        JsonParser p(s);
        Json v = p.value();
        p.space();
        if (p.i_ != s.size()) p.error();
        return v;
    }

  private:
    explicit JsonParser(const std::string &s) : s_(s) {}
    [[noreturn]] void error() const
    {
        throw std::runtime_error("not JSON at offset " + std::to_string(i_));
    }
    void space()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\t' || s_[i_] == '\r'))
            ++i_;
    }
    bool eat(char c)
    {
        space();
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    void expect(char c)
    {
        if (!eat(c)) error();
    }
    bool word(const char *w)
    {
        const std::string t(w);
        if (s_.compare(i_, t.size(), t) != 0) return false;
        i_ += t.size();
        return true;
    }
    std::string string()
    {
        expect('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (static_cast<unsigned char>(c) < 0x20) error();
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) error();
            c = s_[i_++];
            switch (c) {
            case '"': case '\\': case '/': out += c; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (i_ + 4 > s_.size()) error();
                const unsigned long u = std::strtoul(s_.substr(i_, 4).c_str(), nullptr, 16);
                i_ += 4;
                if (u < 0x80) {
                    out += char(u);
                } else if (u < 0x800) {
                    out += char(0xc0 | (u >> 6));
                    out += char(0x80 | (u & 0x3f));
                } else {
                    out += char(0xe0 | (u >> 12));
                    out += char(0x80 | ((u >> 6) & 0x3f));
                    out += char(0x80 | (u & 0x3f));
                }
                break;
            }
            default: error();
            }
        }
        if (i_ >= s_.size()) error();
        ++i_;
        return out;
    }
    Json value()
    {
        space();
        Json v;
        if (i_ >= s_.size()) error();
        const char c = s_[i_];
        if (c == '{') {
            ++i_;
            v.kind = Json::Object;
            if (eat('}')) return v;
            do {
                space();
                std::string k = string();
                expect(':');
                v.members[k] = value();
            } while (eat(','));
            expect('}');
        } else if (c == '[') {
            ++i_;
            v.kind = Json::Array;
            if (eat(']')) return v;
            do v.items.push_back(value());
            while (eat(','));
            expect(']');
        } else if (c == '"') {
            v.kind = Json::String;
            v.text = string();
        } else if (word("true") || word("false")) {
            v.kind = Json::Bool;
            v.boolean = s_[i_ - 1] == 'e' && s_[i_ - 2] == 'u';
        } else if (word("null")) {
            v.kind = Json::Null;
        } else {
            char *end = nullptr;
            v.number = std::strtod(s_.c_str() + i_, &end);
            if (end == s_.c_str() + i_) error();
            v.kind = Json::Number;
            i_ = std::size_t(end - s_.c_str());
        }
        return v;
    }

    const std::string &s_;
    std::size_t i_ = 0;
};

} // namespace tooltest

#endif // ZEP_TESTS_TOOLS_JSON_READER_H
