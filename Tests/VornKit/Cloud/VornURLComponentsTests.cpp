#include "VornTestSupport.h"
#include "VornURLComponents.h"

#include <string>

TEST(VornURLComponents, PercentEncodingKeepsOnlyUnreservedBytesAndDecodesBack) {
    std::string every;
    for (int c = 0; c < 256; ++c) {
        every.push_back(static_cast<char>(c));
    }
    const std::string encoded = VornURLComponents::percentEncodeUnreserved(every);
    EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%"),
              std::string::npos);
    EXPECT_EQ(VornURLComponents::percentDecode(encoded), every);

    EXPECT_EQ(VornURLComponents::percentEncodeUnreserved("a b&c=d+e/f~g"), "a%20b%26c%3Dd%2Be%2Ff~g");
    EXPECT_EQ(VornURLComponents::percentEncodeUnreserved("\xC3\xA7"), "%C3%A7");  // upper-case digits
    EXPECT_EQ(VornURLComponents::percentEncodeUnreserved(""), "");
}
