// Shared by the error-layer tests: a handler that logs what it is called
// with, a guard that cancels a declared handler, and a fixture that puts the
// process-wide masks back to their starting state around each test.
#ifndef ZEP_TESTS_ERROR_SUPPORT_H
#define ZEP_TESTS_ERROR_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zep/error.h>

namespace zep_test {

struct Call {
    std::string tag; // "own" for a record's own handler
    std::string name;
    int severity;
    std::string message;
    ERR_RECORD *record;
};

// The user data of a logging handler: its tag and what it returns.
struct Tag {
    const char *tag;
    int result;
};

inline std::vector<Call> calls;
inline int own_result = 1;

inline int log_handler(const char *name, int severity, const char *message, ERR_RECORD *record,
                       void *data)
{
    const auto *t = static_cast<const Tag *>(data);
    calls.push_back({t->tag, name ? name : "", severity, message ? message : "", record});
    return t->result;
}

// A record's own handler: always called with data 0.
inline int own_handler(const char *name, int severity, const char *message, ERR_RECORD *record,
                       void *data)
{
    calls.push_back({data ? "own with data" : "own", name ? name : "", severity,
                     message ? message : "", record});
    return own_result;
}

inline std::vector<std::string> tags()
{
    std::vector<std::string> out;
    for (const Call &c : calls)
        out.push_back(c.tag);
    return out;
}

// Declares a handler for the life of the guard.
class Declared {
  public:
    Declared(ERR_RECORD *record, ERR_HANDLER handler, void *data) : record_(record)
    {
        ok_ = ERR_dcl_handler(record, handler, data) == 1;
    }
    ~Declared()
    {
        if (ok_) ERR_can_handler(record_);
    }
    Declared(const Declared &) = delete;
    Declared &operator=(const Declared &) = delete;
    bool ok() const { return ok_; }

  private:
    ERR_RECORD *record_;
    bool ok_;
};

inline ERR_RECORD make_record(int severity, const char *name, const char *format)
{
    ERR_RECORD r{};
    r.kind = 1;
    r.severity = static_cast<uint8_t>(severity);
    r.name = name;
    r.format = format;
    return r;
}

// Masks as at load time (only DEBUG masked) before and after each test.
class ErrorLayer : public ::testing::Test {
  protected:
    static void reset_masks()
    {
        ERR_unmask(nullptr);
        ERR_mask_s(ERR_DEBUG);
        for (int s = ERR_INFORMATION; s <= ERR_FATAL; ++s)
            ERR_unmask_s(s);
        own_result = 1;
    }
    void SetUp() override
    {
        reset_masks();
        calls.clear();
        err__alloc_fail(0, 0);
    }
    void TearDown() override
    {
        reset_masks();
        err__alloc_fail(0, 0);
    }
};

} // namespace zep_test

#endif // ZEP_TESTS_ERROR_SUPPORT_H
