// How apply.cgi is linked: it must never load the GIF library, which it does not use and whose
// dependent libraries would make every request start several times slower.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

TEST(AppLinkingTest, TheProgramDoesNotLoadTheGifLibrary) {
    std::FILE* pipe = popen("ldd '" APPLY_CGI "' 2>&1", "r");
    ASSERT_NE(pipe, nullptr);
    std::string listing;
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        listing.append(chunk, n);
    pclose(pipe);
    EXPECT_FALSE(listing.empty());
    EXPECT_EQ(listing.find("libgd"), std::string::npos) << listing;
}
