// End-to-end: files with the most channels a group can number and with thousands of groups, some
// of them left out of the conversion, convert completely and in the right column order.
#include "Fakegroup_helper.h"
#include "Golden_helper.h"
#include "Mdfbytes_helper.h"
#include "Run_helper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// prefix followed by the number in decimal.
std::string numbered(const char *prefix, long n) {
    std::string s = prefix;
    s += std::to_string(n);
    return s;
}

// The value lines of an ADF text (the lines that start with a blank), split into fields.
std::vector<std::vector<std::string>> value_lines(const std::string &adf) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(adf);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != ' ') continue;
        std::istringstream fields(line);
        std::vector<std::string> v;
        for (std::string f; fields >> f;) v.push_back(f);
        lines.push_back(v);
    }
    return lines;
}

// The line that names the columns ("# TIME ..."), split into names.
std::vector<std::string> column_names(const std::string &adf) {
    std::istringstream in(adf);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("# TIME", 0) != 0) continue;
        std::istringstream fields(line.substr(1));
        std::vector<std::string> v;
        for (std::string f; fields >> f;) v.push_back(f);
        return v;
    }
    return {};
}

// One group of a float time channel and `channels` - 1 unsigned 8-bit value channels named
// "c<k>", which overlap over the 64 bytes behind the time (value channel k at byte 4 + (k - 1) %
// 64), written byte by byte: first bits are 16-bit fields, so 65534 channels cannot each have bits
// of their own. Record r holds the time r and the byte (i + 7 r) & 0xFF at 4 + i.
std::string many_channels_file(uint32_t channels, uint32_t records) {
    std::string b(64, '\0');
    auto u16 = [&b](std::size_t at, uint32_t v) {
        b[at] = static_cast<char>(v & 0xFF);
        b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::size_t at, uint32_t v) {
        u16(at, v & 0xFFFF);
        u16(at + 2, v >> 16);
    };
    auto block = [&b, &u16](const char *type, uint16_t size) {
        std::size_t at = b.size();
        b.append(size, '\0');
        b[at] = type[0];
        b[at + 1] = type[1];
        u16(at + 2, size);
        return at;
    };
    b.replace(0, 24, "MDF     2.00    TEST    ");
    u16(28, 200);
    std::size_t hd = block("HD", 164);
    u16(hd + 16, 1);
    std::size_t dg = block("DG", 24);
    u32(hd + 4, static_cast<uint32_t>(dg));
    std::size_t cg = block("CG", 26);
    u32(dg + 8, static_cast<uint32_t>(cg));
    u16(cg + 16, 1);
    u16(cg + 18, channels);
    u16(cg + 20, 4 + 64);
    u32(cg + 22, records);
    std::size_t link = cg + 8;
    for (uint32_t k = 0; k < channels; ++k) {
        std::size_t cn = block("CN", 218);
        u32(link, static_cast<uint32_t>(cn));
        link = cn + 4;
        std::string name = k == 0 ? "time" : numbered("c", k);
        b.replace(cn + 26, name.size(), name);
        u16(cn + 24, k == 0 ? 1 : 0);
        u16(cn + 186, k == 0 ? 0 : 32 + 8 * ((k - 1) % 64));
        u16(cn + 188, k == 0 ? 32 : 8);
        u16(cn + 190, k == 0 ? 2 : 0);
    }
    u32(dg + 16, static_cast<uint32_t>(b.size()));
    for (uint32_t r = 0; r < records; ++r) {
        float t = static_cast<float>(r);
        uint32_t bits = 0;
        std::memcpy(&bits, &t, 4);
        b.append(4, '\0');
        u32(b.size() - 4, bits);
        for (uint32_t i = 0; i < 64; ++i) b.push_back(static_cast<char>((i + 7 * r) & 0xFF));
    }
    return b;
}

TEST(ConvertMany, SixtyFiveThousandChannelsInOneGroup) {
    constexpr uint32_t CHANNELS = 65535; // the time channel and 65534 value channels
    fs::path dir = make_temp_dir("many_channels");
    {
        std::ofstream out(dir / "meas.dat", std::ios::binary);
        out << many_channels_file(CHANNELS, 3);
        ASSERT_TRUE(out.good());
    }
    run_result r = run_traxcon({"meas", "/trace=0"}, dir.string());
    ASSERT_TRUE(r.exited);
    ASSERT_EQ(r.status, 0) << r.err.substr(0, 2000);
    std::string adf = traxcon_text(read_file_bytes((dir / "meas.adf").string()));

    std::vector<std::string> names = column_names(adf);
    ASSERT_EQ(names.size(), CHANNELS);
    std::vector<std::vector<std::string>> lines = value_lines(adf);
    ASSERT_EQ(lines.size(), 3u);
    for (uint32_t line = 0; line < lines.size(); ++line) {
        ASSERT_EQ(lines[line].size(), CHANNELS);
        EXPECT_EQ(lines[line][0], std::to_string(line));
        for (uint32_t k = 1; k < CHANNELS; ++k) {
            ASSERT_EQ(names[k], numbered("c", k));
            uint32_t expected = ((k - 1) % 64 + 7 * line) & 0xFF;
            ASSERT_EQ(lines[line][k], std::to_string(expected)) << "line " << line << " col " << k;
        }
    }
    int columns = 0;
    EXPECT_EQ(adf_read_back(dir / "meas.adf", &columns), 3);
    EXPECT_EQ(columns, static_cast<int>(CHANNELS));
}

// Every third group has no time channel and every fifth only a time channel: the walk closes
// them again while the groups before them stay open.
TEST(ConvertMany, ThousandsOfGroupsSomeLeftOut) {
    constexpr int GROUPS = 6000;
    mdfb_file f;
    std::vector<int> used;
    for (int n = 1; n <= GROUPS; ++n) {
        std::string name = numbered("v", n);
        mdfb_group g = mdfb_simple_group({0, 1}, {double(n), double(2 * n)}, name);
        if (n % 3 == 0) {
            g.channels[0].type = 0; // the time channel becomes a value channel
            g.channels[0].name = numbered("t", n);
        } else if (n % 5 == 0) {
            g.channels.pop_back();
        } else {
            used.push_back(n);
        }
        f.groups.push_back(g);
    }
    fs::path dir = make_temp_dir("many_groups");
    ASSERT_TRUE(mdfb_write(f, (dir / "meas.dat").string()));
    run_result r = run_traxcon({"meas", "/trace=0"}, dir.string());
    ASSERT_TRUE(r.exited);
    ASSERT_EQ(r.status, 0) << r.err.substr(0, 2000);
    std::string adf = traxcon_text(read_file_bytes((dir / "meas.adf").string()));

    std::vector<std::string> names = column_names(adf);
    ASSERT_EQ(names.size(), used.size() + 1);
    std::vector<std::vector<std::string>> lines = value_lines(adf);
    ASSERT_EQ(lines.size(), 2u);
    for (std::size_t i = 0; i < used.size(); ++i) {
        ASSERT_EQ(names[i + 1], numbered("v", used[i]));
        ASSERT_EQ(lines[0][i + 1], std::to_string(used[i]));
        ASSERT_EQ(lines[1][i + 1], std::to_string(2 * used[i]));
    }
    EXPECT_EQ(adf_read_back(dir / "meas.adf"), 2);
}

} // namespace
