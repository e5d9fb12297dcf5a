// Name syntaxes: the tokens the parser makes and the four checks.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include <zep/zep.h>

namespace {

struct Tok {
    int kind, length;
};

// code 0: the syntax parses into `tokens` (end token included).
struct ParseCase {
    const char *syntax;
    int code;
    std::vector<Tok> tokens;
};

const ParseCase kParse[] = {
    {"Name.####.Ext", 0, {{4, 4}, {5, 1}, {3, 4}, {5, 1}, {1, 3}, {0, 1}}},
    {"NAME_##", 0, {{4, 4}, {5, 1}, {3, 2}, {0, 1}}},
    {"##.ext", 0, {{3, 2}, {5, 1}, {1, 3}, {0, 1}}},
    {"name.ext", 0, {{4, 4}, {5, 1}, {1, 3}, {0, 1}}},
    {"namename.####", 0, {{4, 8}, {5, 1}, {3, 4}, {0, 1}}},
    {"Ext-:%_~name#", 0, {{1, 3}, {5, 5}, {4, 4}, {3, 1}, {0, 1}}},
    {"name##ext", 0, {{4, 4}, {3, 2}, {1, 3}, {0, 1}}},
    {"ext", -11, {}},
    {"name.#.#", -11, {}},
    {"#_#", -11, {}},
    {"name.ext.ext", -11, {}},
    {"name ####", -11, {}},
    {"name1.####", -11, {}},
    {"name/####", -11, {}},
    {"name.\xe9.##", -11, {}},
    {"names.ext", -11, {}},
    {"nam.#", -11, {}},
};

TEST(NameSyntax, ParsesIntoTokensOverTheLowerCaseCopy)
{
    for (const ParseCase &c : kParse) {
        SCOPED_TRACE(c.syntax);
        ZEP_NAME_TOKEN *t = nullptr;
        zep__err = 1;
        const int ok = ZEP_parse_name_syntax(c.syntax, &t, 0);
        EXPECT_EQ(zep__err, c.code);
        if (c.code) {
            EXPECT_EQ(ok, 0);
            continue;
        }
        ASSERT_TRUE(ok && t);
        std::string lower(c.syntax);
        for (char &ch : lower)
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        for (size_t i = 0; i < c.tokens.size(); ++i) {
            EXPECT_EQ(t[i].kind, c.tokens[i].kind) << "token " << i;
            EXPECT_EQ(t[i].text_length, c.tokens[i].length) << "token " << i;
            EXPECT_TRUE(t[i].field == 0 && t[i].positions.count == 0 && !t[i].positions.data &&
                        !t[i].match && t[i].match_length == 0)
                << "token " << i;
            // the texts follow each other through the copy; the end token's is its NUL
            if (i + 1 < c.tokens.size()) {
                EXPECT_EQ(t[i + 1].text, t[i].text + t[i].text_length);
            }
        }
        EXPECT_EQ(std::string(t[0].text), lower);
        EXPECT_EQ(t[c.tokens.size() - 1].text, t[0].text + lower.size());
        ZEP_name_tokens_release(t);
    }
}

// verify_code: what ZEP_name_syntax_verify leaves (0: valid); has_ext leaves
// the same code.
struct CheckCase {
    const char *syntax;
    int verify_code;
    bool has_ext, ends_ext, has_frame;
};

const CheckCase kChecks[] = {
    {"Name.####.Ext", 0, true, true, true},  {"Name.####.EXT", 0, true, true, true},
    {"name.ext", 0, true, true, false},      {"NAME_##", 0, false, false, true},
    {"Ext.name", 0, true, false, false},     {"##", 0, false, false, true},
    {"name##ext", 0, true, true, true},      {"namename", 0, false, false, false},
    {"ext", -11, false, true, false},        {"", -13, false, false, false},
    {"name.#.#", -11, false, false, true},   {"#name##", -11, false, false, true},
    {"name.ext.ext", -11, false, true, false}, {"name/#.ext", -11, false, true, true},
    {"name #", -11, false, false, true},     {"name2", -11, false, false, false},
    {"name.\xe9", -11, false, false, false}, {"names.ext", -11, false, true, false},
    {"xt", -11, false, false, false},
};

TEST(NameSyntax, ChecksValidityExtensionAndFrame)
{
    for (const CheckCase &c : kChecks) {
        SCOPED_TRACE(c.syntax);
        zep__err = 1;
        EXPECT_EQ(ZEP_name_syntax_verify(c.syntax), c.verify_code == 0);
        EXPECT_EQ(zep__err, c.verify_code);
        zep__err = 1;
        EXPECT_EQ(ZEP_name_syntax_has_ext(c.syntax), c.has_ext);
        EXPECT_EQ(zep__err, c.verify_code);
        zep__err = 1;
        EXPECT_EQ(ZEP_name_syntax_ends_ext(c.syntax), c.ends_ext);
        EXPECT_EQ(zep__err, 0);
        EXPECT_EQ(ZEP_name_syntax_has_frame(c.syntax), c.has_frame);
    }
    zep__err = 1;
    EXPECT_FALSE(ZEP_name_syntax_verify(nullptr));
    EXPECT_EQ(zep__err, ZEP_E_NO_SYNTAX);
    zep__err = 1;
    EXPECT_FALSE(ZEP_name_syntax_has_ext(nullptr) || ZEP_name_syntax_ends_ext(nullptr));
    EXPECT_EQ(zep__err, 1);
    EXPECT_STREQ(ZEP_name_syntax_name(), "name");
}

} // namespace
