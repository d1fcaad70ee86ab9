#include "Fakegroup_helper.h"

#include <unistd.h>

#include "Adf.h"
#include "Platform_helper.h"
#include "Sls.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>

namespace {

struct fake_group_state {
    fake_group_desc desc;
    std::size_t pos = 0;
    std::vector<bool> read; // index 0: time channel, then the value channels
};

struct fake_channel {
    fake_group_state *group;
    std::size_t index; // 0: time channel
};

// Owned for the duration of one fake_convert; fake_read follows the pointers in the tables.
std::vector<std::unique_ptr<fake_group_state>> groups_state;
std::vector<std::unique_ptr<fake_channel>> channels_state;

} // namespace

int fake_read(double *value, mdf_channel_rec *channel) {
    fake_channel *c = reinterpret_cast<fake_channel *>(channel);
    fake_group_state &g = *c->group;
    if (g.desc.times.empty()) return 1;
    if (g.read[c->index]) {
        if (g.pos + 1 >= g.desc.times.size()) return 1;
        ++g.pos;
        g.read.assign(g.read.size(), false);
    }
    g.read[c->index] = true;
    if (c->index == 0) {
        if (g.desc.fail_at >= 0 && g.pos == static_cast<std::size_t>(g.desc.fail_at))
            return g.desc.fail_status;
        *value = g.desc.times[g.pos];
        return 0;
    }
    const std::vector<double> &values = g.desc.channels[c->index - 1].values;
    if (g.pos >= values.size()) return 1;
    *value = values[g.pos];
    return 0;
}

std::filesystem::path make_temp_dir(const std::string &name) {
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = name;
    if (info != nullptr) unique += std::string("_") + info->test_suite_name() + "_" + info->name();
    for (char &ch : unique)
        if (ch == '/') ch = '_';
    // One folder per process: test runs of other build folders may run at the same time.
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("traxcon_tests_" + std::to_string(getpid())) / unique;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "missing file " << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> adf_value_lines(const std::string &adf_text) {
    std::vector<std::string> lines;
    std::istringstream in(adf_text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '!' && line[0] != '#') lines.push_back(line);
    return lines;
}

void fake_convert(fake_run &run, const std::vector<fake_group_desc> &groups) {
    groups_state.clear();
    channels_state.clear();
    run.dir = make_temp_dir("merge");
    run.adf_path = run.dir / "fake.adf";
    run.t.channel_names = sls_create(0, 0, 0, 0);
    ASSERT_NE(run.t.channel_names, nullptr);
    run.t.adf = adf_open_write(run.adf_path.string().c_str());
    ASSERT_NE(run.t.adf, nullptr);

    uint32_t number = 0;
    for (const fake_group_desc &desc : groups) {
        ++number;
        auto state = std::make_unique<fake_group_state>();
        state->desc = desc;
        state->read.assign(desc.channels.size() + 1, false);
        conv_group g;
        g.number = number;
        channels_state.push_back(std::make_unique<fake_channel>(fake_channel{state.get(), 0}));
        g.time_handle = reinterpret_cast<mdf_channel_rec *>(channels_state.back().get());
        for (std::size_t j = 0; j < desc.channels.size(); ++j) {
            channels_state.push_back(
                std::make_unique<fake_channel>(fake_channel{state.get(), j + 1}));
            conv_channel c;
            c.handle = reinterpret_cast<mdf_channel_rec *>(channels_state.back().get());
            c.bits = desc.channels[j].bits;
            c.number = static_cast<uint32_t>(j + 2);
            c.name_id = conv_unique_name(run.t, desc.channels[j].name.c_str(), number,
                                         static_cast<unsigned>(j + 2));
            g.channels.push_back(c);
        }
        run.t.total += g.channels.size();
        run.t.groups.push_back(std::move(g));
        groups_state.push_back(std::move(state));
    }

    if (run.capture) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    conv_write_header(run.t, run.s);
    run.lines = conv_merge(run.t, run.s, fake_read);
    std::fflush(stdout);
    if (run.capture) {
        run.err = testing::internal::GetCapturedStderr();
        run.out = testing::internal::GetCapturedStdout();
    }

    EXPECT_EQ(adf_close(run.t.adf), 0);
    run.t.adf = nullptr;
    sls_destroy(run.t.channel_names);
    run.t.channel_names = nullptr;
    run.adf_text = native_text(read_file(run.adf_path)); // written in text mode
}
