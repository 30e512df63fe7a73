#include "VornSystemErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <future>

namespace {

struct Case {
    std::error_code code;
    const char* turkish;  // nullptr: the C library's English text in every language
};

}  // namespace

// The reasons people meet read in Turkish; English, and any reason without a Turkish text, read as
// the C library words them; a code of another category keeps its own message.
TEST(VornSystemErrorText, CommonReasonsInTheChosenLanguageOthersAsTheSystemWordsThem) {
    const Case cases[] = {
        {std::error_code(ENOENT, std::system_category()), "Böyle bir dosya ya da klasör yok"},
        {std::make_error_code(std::errc::permission_denied), "Erişim izni yok"},
        {std::error_code(ENOSPC, std::system_category()), "Aygıtta yer kalmadı"},
        {std::error_code(ECONNREFUSED, std::system_category()), "Bağlantı reddedildi"},
        {std::error_code(EDOM, std::system_category()), nullptr},
        {std::make_error_code(std::future_errc::broken_promise), nullptr},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.code.message());
        EXPECT_EQ(vornSystemErrorText(item.code, VornLanguage::en), item.code.message());
        EXPECT_EQ(vornSystemErrorText(item.code, VornLanguage::tr), item.turkish ? item.turkish : item.code.message());
    }
    EXPECT_EQ(vornSystemErrorText(ENOENT, VornLanguage::tr), "Böyle bir dosya ya da klasör yok");
    EXPECT_EQ(vornSystemErrorText(ENOENT, VornLanguage::en), std::strerror(ENOENT));
}
