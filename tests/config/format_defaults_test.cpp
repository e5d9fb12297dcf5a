// The format-defaults database: every key, the picture-format table, syntax
// reports, the walk of FMT_find and FMT_info, shut-down and running out of
// memory; and both databases built on demand and used from C.
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "config/config_support.h"
#include "config/format_defaults.h"

extern "C" int zep_test_c_config(void);

namespace {

using config_test::messages_of;
using config_test::reports;
using Names = std::vector<std::string>;

class FormatDefaults : public config_test::ConfigTest {
  protected:
    void load(const std::string &text) // afresh from the built-in values and the text
    {
        reset_format_numbers();
        write_home(text);
        ASSERT_EQ(FMT_init(nullptr), 0);
    }
};

// The names FMT_info lists from the cursor on.
Names walk()
{
    Names names;
    while (const FMT_ASPECT *a = FMT_info()) names.emplace_back(a->name);
    return names;
}

// Every value of the database, and the built-in ones with some changed.
std::string values()
{
    std::ostringstream s;
    s << "aspect=" << FMT_def_aspect() << "|chan=" << FMT_def_image_data()
      << "|key=" << zep::fmt_key_default_current() << "|name=" << zep::fmt_name_default_current()
      << "|gamma=" << FMT_def_gamma() << "|input=" << FMT_def_input_gamma()
      << "|res=" << FMT_def_gamma_tab_res() << "|rate=" << FMT_def_frame_rate()
      << "|dominance=" << FMT_def_dominance() << "|swatch=" << zep::fmt_swatch_size_current();
    return s.str();
}
std::string builtin_with(const std::string &changes)
{
    return config_test::with_changes("aspect=ntsc_640|chan=rgb|key=rla|name=im|gamma=2.2|input=1|"
                                     "res=4096|rate=30|dominance=1|swatch=0",
                                     changes);
}

TEST_F(FormatDefaults, EveryKeySetsItsValueAndNoOther)
{
    // clang-format off
    const std::pair<const char *, const char *> cases[] = {
        {"", ""}, {"fmt__gamma_table_res -5\n", "res=-5"}, {"fmt__dominance even\n", "dominance=0"},
        {"fmt__gamma_default 1.8\nfmt__gamma_default 1.8x\n", "gamma=1.8"},
        {"fmt__input_gamma_default .45\nfmt__input_gamma_default 1e\n", "input=0.45"},
        {"fmt__key_default tif\nfmt__name_default 'frame one'\n", "key=tif;name=frame one"},
        {"fmt__chan_default rgba\nfmt__chan_default rgbaz\n", "chan=rgbaz"},
        {"fmt__dominance even\nfmt__dominance odd\n", ""}, {"fmt__swatch_size 64\n", "swatch=64"},
        {"fmt__frame_rate 25\nfmt__frame_rate 0\nfmt__frame_rate -24\n", "rate=25"},
        {"fmt__swatch_size 64\nfmt__swatch_size -5\n", ""},
        {"fmt__swatch_size 64\nfmt__swatch_size none\n", ""},
        {"fmt__aspect_default pal\nfmt__aspect_table\np 1 1 1\npal 7 5 1\nend_aspect_table\n",
         "aspect=pal"},
        {"fmt__aspect_default x\nfmt__aspect_default ntsc_640\n"
         "fmt__aspect_table\nx 1 1 1\nend_aspect_table\n", ""},
        {"fmt__dominance EVEN\nfmt__aspect_default pal\nFMT__FRAME_RATE 12\nfmt__frame_rate12\n"
         "# x\nclr__min_wavelength 400\n", ""},
    };
    // clang-format on
    for (const auto &[file, changes] : cases) {
        SCOPED_TRACE(file);
        load(file);
        EXPECT_EQ(values(), builtin_with(changes));
        EXPECT_TRUE(reports.empty());
    }
}

TEST_F(FormatDefaults, TableRowsReplaceEntriesOfTheirNameAndShareOneCursor)
{
    load("ntsc_640 1 1 1\n"); // outside the table: ignored
    EXPECT_EQ(walk(), Names{"ntsc_640"});
    const FMT_ASPECT *a = FMT_find("ntsc_640");
    EXPECT_EQ(std::tuple(a->width, a->height, a->aspect), std::tuple(640, 486, 1.33f));

    reset_format_numbers();
    write_home("fmt__aspect_table\npal 720 576 1.33\n# a comment inside the table\n"
               "ntsc_640 720 486 1.33\nodd 100 50 x\nfmt__frame_rate 25\npal 768 576 1.33\n"
               "end_aspect_table\nfilm 2048 1556 1.85\n");
    ASSERT_EQ(cfg__read_file(nullptr), 0); // loaded and walked by the other database
    while (cfg__next_line())
        continue;
    ASSERT_EQ(FMT_init(nullptr), 0);
    EXPECT_EQ(walk(), (Names{"ntsc_640", "odd", "pal"}));
    EXPECT_EQ(FMT_find("ntsc_640")->width, 720);
    a = FMT_find("pal");
    EXPECT_EQ(std::tuple(a->width, a->height, a->aspect), std::tuple(768, 576, 1.33f));
    EXPECT_EQ(FMT_find("odd")->aspect, 0.0f) << "a ratio that is not a number gives 0";
    EXPECT_EQ(FMT_def_frame_rate(), 25) << "keys apply inside the table";
    EXPECT_EQ(FMT_find("film"), nullptr);
    EXPECT_EQ(FMT_find("PAL"), nullptr);
    EXPECT_TRUE(reports.empty());

    EXPECT_EQ(FMT_init(nullptr), 0); // rewinds
    EXPECT_STREQ(FMT_info()->name, "ntsc_640");
    EXPECT_EQ(FMT_find("film"), nullptr);
    EXPECT_STREQ(FMT_info()->name, "odd") << "a miss leaves the walk where it was";
    EXPECT_STREQ(FMT_find("ntsc_640")->name, "ntsc_640");
    EXPECT_STREQ(FMT_info()->name, "odd") << "a hit continues the walk after it";
    EXPECT_EQ(walk(), Names{"pal"});
    EXPECT_EQ(FMT_find("film"), nullptr);
    EXPECT_EQ(FMT_info(), nullptr) << "a miss at the end stays at the end";
    EXPECT_EQ(FMT_find(nullptr), nullptr);
}

TEST_F(FormatDefaults, ExitRestoresTextsAndBuiltInFormatsButKeepsNumbers)
{
    load("fmt__key_default tif\nfmt__name_default frame\nfmt__chan_default rgba\n"
         "fmt__gamma_default 1.7\nfmt__frame_rate 24\nfmt__gamma_table_res 256\n"
         "fmt__aspect_default pal\nfmt__aspect_table\npal 720 576 1.33\n"
         "ntsc_640 1 2 3\nend_aspect_table\n");
    EXPECT_TRUE(FMT_exit() == 0 && FMT_exit() == 0);
    EXPECT_EQ(cfg__path(), nullptr) << "the store is released";
    EXPECT_STREQ(zep::fmt_key_default_current(), "rla");
    EXPECT_EQ(zep::fmt_gamma_table_res_current(), 256);
    EXPECT_FALSE(zep::fmt_is_built()) << "reading the current values builds nothing";
    write_home("");
    EXPECT_EQ(values(), builtin_with("gamma=1.7;rate=24;res=256")); // rebuilt on demand
    EXPECT_EQ(FMT_find("ntsc_640")->width, 640);
}

TEST_F(FormatDefaults, WrongWordCountsAreReportedWithLineNumbers)
{
    // Lines 1 to 4; a comment of 254 characters, then line 6 (its rest); 7 to 14.
    load("fmt__gamma_default 1.5\nfmt__gamma_default\n\nfmt__frame_rate 25 fps\n#" +
         std::string(253, '-') + " fmt__frame_rate\n" +
         "fmt__aspect_table extra\nfmt__aspect_table\npal 720 576\npal 720 576 1.33 more\n"
         "# 1 2\nok 1 2 3\nend_aspect_table\nshort 1 2\n");
    std::vector<std::string> expected;
    for (int line : {2, 4, 6, 7, 9, 10}) expected.push_back(syntax_message(line));
    EXPECT_EQ(messages_of(zep::kConfigSyntax), expected);
    EXPECT_EQ(reports.size(), expected.size());
    EXPECT_EQ(reports[0].severity, ERR_ERROR);
    EXPECT_EQ(values(), builtin_with("gamma=1.5")) << "a bad line changes nothing";
    EXPECT_EQ(walk(), (Names{"ntsc_640", "ok"})) << "the build goes on after a bad line";
}

// Every query of either database builds it when needed and says so at
// severity 0; after a failed build only CLR_find neither answers nor says.
TEST_F(FormatDefaults, QueriesBuildOnDemandAndSaySoAtSeverityZero)
{
    // clang-format off
    const std::pair<std::string, std::function<bool()>> queries[] = {
        {"fmt FMT_find", [] { return FMT_find("ntsc_640") != nullptr; }},
        {"fmt FMT_info", [] { return FMT_info() != nullptr; }},
        {"fmt FMT_def_aspect", [] { return FMT_def_aspect() != nullptr; }},
        {"fmt FMT_def_gamma", [] { return FMT_def_gamma() == 2.2f; }},
        {"fmt FMT_def_input_gamma", [] { return FMT_def_input_gamma() == 1.0f; }},
        {"fmt FMT_def_gamma_tab_res", [] { return FMT_def_gamma_tab_res() == 4096; }},
        {"fmt FMT_def_frame_rate", [] { return FMT_def_frame_rate() == 27; }},
        {"fmt FMT_def_dominance", [] { return FMT_def_dominance() == 1; }},
        {"fmt FMT_def_image_data", [] { return FMT_def_image_data() != nullptr; }},
        {"clr CLR_find", [] { return CLR_find(3) != nullptr; }},
        {"clr CLR_def_red_primary", [] { return CLR_def_red_primary()[0] == 0.67f; }},
        {"clr CLR_def_green_primary", [] { return CLR_def_green_primary()[1] == 0.71f; }},
        {"clr CLR_def_blue_primary", [] { return CLR_def_blue_primary()[2] == 0.78f; }},
        {"clr CLR_def_white_point", [] { return CLR_def_white_point()[1] == 0.316f; }}};
    // clang-format on
    write_home("fmt__frame_rate 27\n");
    EXPECT_EQ(FMT_def_frame_rate(), 27);
    EXPECT_TRUE(reports.empty()) << "silent while severity 0 is masked";
    ERR_unmask_s(ERR_DEBUG);
    for (const std::string config : {"", "clr__tristimulus_tab_res 0\n"}) {
        write_home("fmt__frame_rate 27\n" + config);
        for (const auto &[query, call] : queries) {
            SCOPED_TRACE(query + " after \"" + config + "\"");
            const std::string db = query.substr(0, 3), name = query.substr(4);
            const bool builds = db == "fmt" || config.empty();
            unload();
            reports.clear();
            EXPECT_EQ(call(), builds || name != "CLR_find");
            call();
            EXPECT_EQ(messages_of(zep::kConfigResolution).size(), builds ? 0u : 2u);
            const auto said = messages_of(zep::kConfigInitDatabase);
            EXPECT_EQ(said.size(), builds ? 1u : name == "CLR_find" ? 0u : 2u);
            for (const auto &m : said)
                EXPECT_EQ(m, db + ", initializing database for " + name + " request");
        }
    }
    unload(); // a failed format-defaults build: no entry, no report, the values answer
    reports.clear();
    err__alloc_fail(1, 1);
    EXPECT_EQ(FMT_find("ntsc_640"), nullptr);
    EXPECT_EQ(FMT_info(), nullptr);
    EXPECT_FLOAT_EQ(FMT_def_gamma(), 2.2f);
    err__alloc_fail(0, 0);
    EXPECT_TRUE(messages_of(zep::kConfigInitDatabase).empty());
}

// A list element or entry that cannot be had tears the database down; a text
// copy leaves it built; a store that cannot be loaded leaves the built-ins.
TEST_F(FormatDefaults, InitFailsCleanlyWhenMemoryRunsOut)
{
    write_home("fmt__frame_rate 29\nfmt__aspect_default pal\nfmt__key_default tif\n"
               "fmt__name_default frame\nfmt__chan_default rgba\nfmt__aspect_table\n"
               "pal 720 576 1.33\nntsc_640 720 486 1.33\nend_aspect_table\n");
    int seen[3] = {};
    auto failed = [&](int rc) {
        const size_t reported = messages_of(zep::kConfigNoMemory).size();
        ++seen[rc == -1 ? 0 : rc == -10 ? 1 : 2];
        if (rc == -1) { // torn down
            EXPECT_TRUE(reported && !zep::fmt_is_built() && !cfg__next_line());
            EXPECT_STREQ(zep::fmt_key_default_current(), "rla");
        } else if (rc == -10) { // a text copy: still built
            EXPECT_TRUE(zep__err == ZEP_E_NOMEM && reported == 2 && FMT_find("ntsc_640"));
        } else { // the store: the built-in formats
            EXPECT_TRUE(reported && walk() == Names{"ntsc_640"});
        }
        FMT_exit();
        zep__err = 0;
    };
    config_test::exhaust([] { return FMT_init(nullptr); }, failed);
    EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
    EXPECT_EQ(values(), builtin_with("aspect=pal;chan=rgba;key=tif;name=frame;rate=29"));
    EXPECT_EQ(walk(), (Names{"pal", "ntsc_640"}));
}

TEST_F(FormatDefaults, BothDatabasesWorkFromC)
{
    load("fmt__aspect_table\npal 720 576 1.33\nend_aspect_table\n");
    EXPECT_EQ(zep_test_c_config(), 0);
}

} // namespace
