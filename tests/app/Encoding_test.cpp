// The converter's messages end to end: table texts in UTF-8 when the environment's LC_CTYPE names
// it, else as stored; arguments as given; nothing else changes. Every converter this program
// starts runs with LC_ALL=C unless a test here says otherwise (the expected outputs of the other
// end-to-end tests hold the texts as stored; a test run's environment often names UTF-8).
#include "Fakegroup_helper.h"
#include "Run_helper.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

class pin_c_locale : public ::testing::Environment {
    void SetUp() override { setenv("LC_ALL", "C", 1); }
};
[[maybe_unused]] ::testing::Environment *const pinned =
    ::testing::AddGlobalTestEnvironment(new pin_c_locale);

TEST(Encoding, MessagesFollowTheCharacterType) {
    if (std::setlocale(LC_CTYPE, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "locale de_DE.UTF-8 missing in locale -a";
    std::setlocale(LC_CTYPE, "C");
    // Arguments of Latin-1 and UTF-8 bytes; Wine would recode them (ASCII for traxcon.exe).
    const std::string odd = traxcon_on_windows() ? "" : "\xE4-\xC3\xBC";
    const std::string option = "/zz" + odd, name = "n" + odd;
    // LC_ALL (none when null), LC_CTYPE, "u" for UTF-8 texts; LANG=C, German numbers throughout.
    const char *cases[][3] = {{"C", "C", ""},
                              {"de_DE.UTF-8", "C", "u"},
                              {nullptr, "de_DE.UTF-8", "u"},
                              {"POSIX", "de_DE.UTF-8", ""}};
    run_result first;
    std::string first_adf;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c[0] != nullptr ? c[0] : "-") + " " + c[1]);
        const bool utf8 = *c[2] != '\0' && !traxcon_on_windows(); // .exe: no console here
        const std::filesystem::path dir = make_temp_dir("encoding");
        std::filesystem::copy_file(std::filesystem::path(TRAXCON_SOURCE_DIR) / "examples" /
                                       "measurement.dat",
                                   dir / "meas.dat");
        setenv("LANG", "C", 1);
        setenv("LC_NUMERIC", "de_DE.UTF-8", 1);
        setenv("LC_CTYPE", c[1], 1);
        c[0] != nullptr ? setenv("LC_ALL", c[0], 1) : unsetenv("LC_ALL");
        const run_result r = run_traxcon({"/trace", option, "meas"}, dir.string(), 60);
        const run_result missing = run_traxcon({name}, dir.string(), 60);
        setenv("LC_ALL", "C", 1);
        const std::string adf = read_file_bytes((dir / "meas.adf").string());
        EXPECT_EQ(r.status, 0) << r.err;
        if (&c == cases) {
            first = r;
            first_adf = adf;
            EXPECT_NE(r.err.find("bei Argument \"" + option + "\"\n"), std::string::npos);
        }
        // The argument utility's warning (Windows-1252) and the converter's trace (code page 850).
        std::string err = first.err;
        for (const auto &[stored, in_utf8] : {std::pair{"unterst\xFC", "unterst\xC3\xBC"},
                                              std::pair{"Werte-Kan\x84", "Werte-Kan\xC3\xA4"}}) {
            const std::size_t at = err.find(stored);
            ASSERT_NE(at, std::string::npos) << stored;
            if (utf8) err.replace(at, std::strlen(stored), in_utf8);
        }
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(r.out, first.out);
        EXPECT_EQ(adf, first_adf);
        EXPECT_EQ(missing.status, 1);
        EXPECT_NE(missing.err.find("MDF-Datei \"" + name + ".dat\" nicht ge" +
                                   (utf8 ? "\xC3\xB6" : "\x94") + "ffnet"),
                  std::string::npos)
            << missing.err;
    }
}

} // namespace
