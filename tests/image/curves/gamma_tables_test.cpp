// Gamma tables: the values at the built-in resolution 4096, their bounds by
// the identity, other resolutions set through a configuration file, the
// refusal of a resolution below 2, and allocation failure.
#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <zep/config.h>

#include "config/format_defaults.h"

namespace curves_test {
namespace {

namespace fs = std::filesystem;

// A table from one of the builders, released when it goes out of scope.
template <typename T> struct Table {
    T *p;
    explicit Table(T *table) : p(table) {}
    Table(const Table &) = delete;
    Table &operator=(const Table &) = delete;
    ~Table() { ZEP_gamma_done(p); }
    T operator[](int i) const { return p[i]; }
};

// Sets the gamma-table resolution for the life of the guard by building
// the format-defaults database from a configuration file under a private
// HOME. The database keeps a resolution read from a file after FMT_exit,
// so the guard ends by reading one that puts back the built-in 4096.
class Resolution {
  public:
    explicit Resolution(int r)
    {
        if (const char *home = std::getenv("HOME")) saved_home_ = home;
        std::string pattern = (fs::temp_directory_path() / "zep-curves-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        dir_ = pattern;
        setenv("HOME", dir_.c_str(), 1);
        ok_ = load(r);
    }
    ~Resolution()
    {
        load(4096);
        if (saved_home_)
            setenv("HOME", saved_home_->c_str(), 1);
        else
            unsetenv("HOME");
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }
    Resolution(const Resolution &) = delete;
    Resolution &operator=(const Resolution &) = delete;
    bool ok() const { return ok_; }

  private:
    bool load(int r)
    {
        {
            std::ofstream out(dir_ / ".zeprc", std::ios::trunc);
            out << "fmt__gamma_table_res " << r << "\n";
        }
        FMT_exit();
        const bool built = FMT_init(nullptr) == 0;
        FMT_exit();
        return built && zep::fmt_gamma_table_res_current() == r;
    }

    fs::path dir_;
    std::optional<std::string> saved_home_;
    bool ok_ = false;
};

// The values the tables must hold at the built-in resolution, and
// values worked out independently of the library for a few more entries.
TEST_F(CurvesTest, GammaTablesAtTheBuiltInResolution)
{
    ASSERT_EQ(zep::fmt_gamma_table_res_current(), 4096);

    Table btof(ZEP_gamma_btof(2.2));
    ASSERT_NE(btof.p, nullptr);
    EXPECT_EQ(btof[0], 0.0f);
    EXPECT_EQ(btof[1], 1.0f / 4095.0f); // the lower bound, not (1/255)^2.2
    EXPECT_FLOAT_EQ(btof[128], 0.21951972f);
    EXPECT_FLOAT_EQ(btof[200], 0.58597296f);
    EXPECT_EQ(btof[255], 1.0f);

    Table btos(ZEP_gamma_btos(2.2));
    ASSERT_NE(btos.p, nullptr);
    EXPECT_EQ(btos[0], 0);
    EXPECT_EQ(btos[1], 1);   // bounded below by the code itself
    EXPECT_EQ(btos[10], 10); // (10/255)^2.2 x 4095 rounds to 3
    EXPECT_EQ(btos[128], 899);
    EXPECT_EQ(btos[255], 4095);

    Table tob(ZEP_gamma_tob(2.2));
    ASSERT_NE(tob.p, nullptr);
    EXPECT_EQ(tob[0], 0);
    EXPECT_EQ(tob[1], 1);
    EXPECT_EQ(tob[100], 47);
    EXPECT_EQ(tob[2048], 186);
    EXPECT_EQ(tob[4095], 255);

    Table tof(ZEP_gamma_tof(2.2));
    ASSERT_NE(tof.p, nullptr);
    EXPECT_EQ(tof[3], 3.0f); // bounded above by the index
    EXPECT_FLOAT_EQ(tof[1000], 134.29895f);
    EXPECT_FLOAT_EQ(tof[4095], 254.9f);

    Table linear(ZEP_gamma_tof(1.0));
    ASSERT_NE(linear.p, nullptr);
    EXPECT_EQ(linear[0], 0.0f);
    EXPECT_EQ(linear[4095], 254.9f);

    EXPECT_TRUE(reports.empty());
}

TEST_F(CurvesTest, GammaTablesRiseMonotonicallyWithinTheirBounds)
{
    const int r = 4096;
    for (double g : {0.45, 1.0, 1.8, 2.2, 4.0}) {
        SCOPED_TRACE(testing::Message() << "gamma " << g);
        Table btof(ZEP_gamma_btof(g));
        Table btos(ZEP_gamma_btos(g));
        Table tob(ZEP_gamma_tob(g));
        Table tof(ZEP_gamma_tof(g));
        ASSERT_TRUE(btof.p && btos.p && tob.p && tof.p);
        for (int i = 0; i < 256; ++i) {
            EXPECT_GE(btof[i], static_cast<float>(i) / (r - 1)) << i;
            EXPECT_LE(btof[i], 1.0f) << i;
            EXPECT_GE(btos[i], i) << i;
            EXPECT_LE(btos[i], r - 1) << i;
            if (i > 0) {
                EXPECT_GE(btof[i], btof[i - 1]) << i;
                EXPECT_GE(btos[i], btos[i - 1]) << i;
            }
        }
        for (int i = 0; i < r; ++i) {
            ASSERT_LE(tob[i], i) << i;
            ASSERT_LE(tof[i], static_cast<float>(i)) << i;
            ASSERT_LE(tof[i], 254.9f) << i;
            if (i > 0) {
                ASSERT_GE(tob[i], tob[i - 1]) << i;
                ASSERT_GE(tof[i], tof[i - 1]) << i;
            }
        }
        EXPECT_EQ(btof[255], 1.0f);
        EXPECT_EQ(btos[255], r - 1);
        EXPECT_EQ(tob[r - 1], 255);
        EXPECT_EQ(tof[r - 1], 254.9f);
    }
}

TEST_F(CurvesTest, GammaTablesDoNotBuildTheDatabase)
{
    ASSERT_FALSE(zep::fmt_is_built());
    Table btof(ZEP_gamma_btof(2.2));
    Table btos(ZEP_gamma_btos(2.2));
    Table tob(ZEP_gamma_tob(2.2));
    Table tof(ZEP_gamma_tof(2.2));
    EXPECT_TRUE(btof.p && btos.p && tob.p && tof.p);
    EXPECT_FALSE(zep::fmt_is_built());
}

TEST_F(CurvesTest, GammaTablesFollowTheConfiguredResolution)
{
    {
        Resolution res(256);
        ASSERT_TRUE(res.ok());
        // With 256 steps each way the linear tables are the identity.
        Table tob(ZEP_gamma_tob(1.0));
        Table btos(ZEP_gamma_btos(1.0));
        Table tof(ZEP_gamma_tof(1.0));
        Table btof(ZEP_gamma_btof(1.0));
        ASSERT_TRUE(tob.p && btos.p && tof.p && btof.p);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(tob[i], i);
            ASSERT_EQ(btos[i], i);
        }
        EXPECT_FLOAT_EQ(tof[128], 127.94981f);
        EXPECT_EQ(tof[255], 254.9f);
        EXPECT_FLOAT_EQ(btof[128], 0.50196081f);
        Table curved(ZEP_gamma_tob(2.2));
        ASSERT_NE(curved.p, nullptr);
        EXPECT_EQ(curved[100], 100);
        EXPECT_EQ(curved[255], 255);
    }
    {
        // Codes beyond 32767 read back negative and fall back to the index.
        Resolution res(40000);
        ASSERT_TRUE(res.ok());
        Table btos(ZEP_gamma_btos(1.0));
        ASSERT_NE(btos.p, nullptr);
        EXPECT_EQ(btos[100], 15686);
        EXPECT_EQ(btos[208], 32627);
        EXPECT_EQ(btos[209], 209);
        EXPECT_EQ(btos[255], 255);
        Table tob(ZEP_gamma_tob(1.0));
        ASSERT_NE(tob.p, nullptr);
        EXPECT_EQ(tob[39999], 255);
    }
    EXPECT_EQ(zep::fmt_gamma_table_res_current(), 4096);
}

TEST_F(CurvesTest, GammaTablesRefuseAResolutionBelowTwo)
{
    for (int r : {1, 0, -7}) {
        SCOPED_TRACE(testing::Message() << "resolution " << r);
        Resolution res(r);
        ASSERT_TRUE(res.ok());
        reports.clear();
        zep__err = 1234;
        err__alloc_fail(1, 1);
        EXPECT_EQ(ZEP_gamma_btof(2.2), nullptr);
        EXPECT_EQ(ZEP_gamma_btos(2.2), nullptr);
        EXPECT_EQ(ZEP_gamma_tob(2.2), nullptr);
        EXPECT_EQ(ZEP_gamma_tof(2.2), nullptr);
        EXPECT_EQ(err__alloc_fail(0, 0), 0) << "an allocation was attempted";
        EXPECT_EQ(zep__err, 1234);
        EXPECT_TRUE(reports.empty());
    }
}

TEST_F(CurvesTest, GammaTablesGiveNullWhenMemoryRunsOut)
{
    const struct {
        const char *name;
        void *(*build)();
    } builders[] = {
        {"btof", [] { return static_cast<void *>(ZEP_gamma_btof(2.2)); }},
        {"btos", [] { return static_cast<void *>(ZEP_gamma_btos(2.2)); }},
        {"tob", [] { return static_cast<void *>(ZEP_gamma_tob(2.2)); }},
        {"tof", [] { return static_cast<void *>(ZEP_gamma_tof(2.2)); }},
    };
    for (const auto &b : builders) {
        SCOPED_TRACE(b.name);
        reports.clear();
        zep__err = 1234;
        err__alloc_fail(1, 0);
        EXPECT_EQ(b.build(), nullptr);
        EXPECT_EQ(err__alloc_fail(0, 0), 1);
        EXPECT_EQ(zep__err, 1234);
        // The allocator's own report; the builder adds none.
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports_of(zep::kNoMemory).size(), 1u);
        EXPECT_TRUE(no_leaks());

        void *table = b.build();
        EXPECT_NE(table, nullptr);
        EXPECT_EQ(ZEP_gamma_done(table), 1);
    }
    EXPECT_EQ(ZEP_gamma_done(nullptr), 1);
}

} // namespace
} // namespace curves_test
