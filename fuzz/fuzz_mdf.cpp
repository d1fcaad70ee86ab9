// Fuzz harness: MDF file bytes through MDFLIB and the converter.
//
// The input is an MDF file. It is written to a scratch file of this process and then:
//   1. the sorted check by name (mdffil_test_sorted), and for an unsorted file the sorted copy
//      (mdffil_sort) into a second scratch file;
//   2. the walk, once over the input and once over the sorted copy when one was made: open, file
//      information, group and channel counts, the sorted check of the open file, every group
//      (at most MAX_GROUPS) and every channel of it (at most MAX_CHANNELS) opened with its
//      description, the time channel and a channel by name, and the values of every open channel
//      in a bounded number of records, with seeks and the record data; then the closes;
//   3. the whole conversion into scratch files, when the walk shows that the converter can run to
//      its end (see `verdict`); its ADF file must then read back as one complete block.
// Every status must be 0, a quiet status or a code of the library's table; texts handed out
// must be terminated; after a negative status the library must refuse further operations with
// the same code (sticky error). A damaged file must never end the process: an internal error of
// the library aborts in the fuzz build (TRAXCON_FUZZ), so it is reported as a crash.
//
// Two things are an internal error by design when a value is read: a layout the value coding
// cannot decode (data type 3, 5, 6 or above, more than 32 bits) and a conversion type without a
// rule (3, 4, 5, 11 to 65534). The harness leaves such channels unread, and reads only the raw
// values of channels with such a conversion.
#include "Adf.h"
#include "Msg.h"
#include "conv.h"
#include "mdfint.h"
#include "mdflib.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t MAX_GROUPS = 16;
constexpr std::uint16_t MAX_CHANNELS = 64;
constexpr std::uint32_t MAX_RECORDS = 8;
constexpr std::uint32_t MAX_CONVERT_RECORDS = 4096;

// Whether the converter can run on the walked file without one of the endings it has by design: a
// fatal message for a file the library refuses or for a group that runs out of records or time
// stamps, and an internal error for a layout or conversion without a rule. Everything else must
// convert to the end.
struct verdict {
    bool convertible = true;
    std::vector<std::vector<double>> times; // of each used group, as its time channel reads them
};

// The merge starts at the latest first time stamp of all used groups (not below 0) and needs a
// later time stamp in every group; a group without one ends the conversion by design.
bool merge_can_start(const verdict &v) {
    double start = 0;
    for (const std::vector<double> &t : v.times)
        if (t.front() > start) start = t.front();
    for (const std::vector<double> &t : v.times) {
        bool later = false;
        for (std::size_t r = 1; r < t.size(); ++r) later = later || t[r] > start;
        if (!later) return false;
    }
    return true;
}

[[noreturn]] void fail(const char *what, int status = 0) {
    std::fprintf(stderr, "fuzz_mdf: %s (status %d)\n", what, status);
    std::abort();
}

// MDFLIB prints its error lines on standard output; keep them out of the fuzzer's log unless
// FUZZ_VERBOSE is set.
void quiet_stdout() {
    static const bool done = [] {
        if (std::getenv("FUZZ_VERBOSE") == nullptr) {
#ifdef _WIN32
            (void)std::freopen("NUL", "w", stdout);
#else
            (void)std::freopen("/dev/null", "w", stdout);
#endif
        }
        return true;
    }();
    (void)done;
}

std::string scratch(const char *extension) {
    static const std::string base = [] {
        std::random_device random;
        return (std::filesystem::temp_directory_path() /
                ("traxcon_fuzz_mdf_" + std::to_string(random())))
            .string();
    }();
    return base + extension;
}

// A status is 0, a quiet status, or a code with a text in the library's table.
void check_status(int16_t status) {
    switch (status) {
    case MDF_OK:
    case MDF_END_OF_RECORDS:
    case MDF_NAME_NOT_FOUND:
    case MDF_NO_MORE_CHANNELS:
    case MDF_ALREADY_SORTED:
    case MDF_NO_MORE_GROUPS:
    case MDF_NOT_SORTED:
    case MDF_NOT_NUMERIC:
    case MDF_FORMULA_INVALID:
    case MDF_CONVERSION_UNKNOWN: return;
    default: break;
    }
    if (mdflib_error_name(status) == nullptr) fail("status without a text", status);
}

// After a negative status every further operation answers the sticky error.
bool stopped(int16_t status) {
    check_status(status);
    if (status >= 0) return false;
    if (mdflib_last_error() != status) fail("the sticky error is not the last error", status);
    return true;
}

void touch_text(const char *text) {
    if (text != nullptr) (void)std::strlen(text);
}

// Reads every open channel of the group in up to MAX_RECORDS records. False after a negative
// status.
bool read_records(mdf_group_rec *group, const std::vector<mdf_channel_rec *> &channels) {
    for (std::uint32_t r = 0; r < MAX_RECORDS; ++r) {
        for (mdf_channel_rec *channel : channels) {
            double value;
            int16_t status = mdfchn_read_value(&value, channel);
            if (stopped(status)) return false;
            if (status == MDF_END_OF_RECORDS) return true;
        }
    }
    std::uint32_t index = 0;
    if (stopped(mdfgrp_record_index(&index, group))) return false;
    return true;
}

// Reads all records of a group the converter uses, as its merge does: every time stamp and every
// value must be readable, and no time stamp may be not a number. False when the converter would
// end with a fatal message or an internal error on this group.
bool full_pass(mdf_group_rec *group, const std::vector<mdf_channel_rec *> &numbered,
               std::uint32_t records, std::vector<double> &times) {
    if (records < 2 || records > MAX_CONVERT_RECORDS) return false;
    // The converter's time channel is the last one in channel order.
    const mdf_channel_rec *time = nullptr;
    for (const mdf_channel_rec *channel : numbered)
        if (mdf_u16(channel->cn, CN_TYPE) == MDFCHN_TIME) time = channel;
    for (mdf_channel_rec *channel : numbered) {
        const std::uint16_t type = mdf_u16(channel->cn, CN_TYPE);
        if ((type == MDFCHN_VALUE || type == MDFCHN_TIME) &&
            mdfchn_check_value(channel) == MDF_NOT_NUMERIC)
            return false;
    }
    if (mdfgrp_seek(group, 0, MDFGRP_SEEK_SET) != 0) return false;
    for (std::uint32_t r = 0; r < records; ++r) {
        for (mdf_channel_rec *channel : numbered) {
            const std::uint16_t type = mdf_u16(channel->cn, CN_TYPE);
            if (type != MDFCHN_VALUE && type != MDFCHN_TIME) continue;
            double value = 0;
            if (mdfchn_read_value(&value, channel) != 0) return false;
            if (type == MDFCHN_TIME && std::isnan(value)) return false;
            if (channel == time) times.push_back(value);
        }
    }
    return true;
}

// Walks one group. False after a negative status.
bool walk_group(mdf_file_rec *file, std::uint16_t number, verdict &v) {
    mdf_group_rec *group = nullptr;
    int16_t status = mdfgrp_open(&group, file, number, MDFGRP_READ);
    if (stopped(status)) return false;
    if (status != 0) return true;
    if (group == nullptr) fail("group open gave 0 without a handle");

    std::uint16_t count = 0;
    std::uint32_t records = 0;
    if (stopped(mdfgrp_channels(&count, group)) || stopped(mdfgrp_records(&records, group)))
        return false;
    // The record data and everything behind it in the record buffer: the length counts the whole
    // buffer, which begins with the identifier byte in front of the data.
    std::uint8_t *data = nullptr;
    const std::uint16_t length = mdfgrp_record_data(&data, group);
    if (data == nullptr || length < 1) fail("record buffer without data");
    for (std::uint16_t i = 0; i + 1 < length; ++i)
        (void)*static_cast<volatile std::uint8_t *>(data + i);

    std::vector<mdf_channel_rec *> channels;
    std::string first_name;
    for (std::uint16_t c = 1; c <= count && c <= MAX_CHANNELS; ++c) {
        mdf_channel_rec *channel = nullptr;
        status = mdfchn_open(&channel, group, c);
        if (stopped(status)) return false;
        if (status != 0) continue;
        std::uint16_t type = 0, bits = 0, data_type = 0;
        const char *name = nullptr, *description = nullptr, *comment = nullptr;
        if (stopped(mdfchn_info(channel, &type, &bits, &data_type, &name, &description, &comment)))
            return false;
        touch_text(name);
        touch_text(description);
        touch_text(comment);
        if (first_name.empty() && name != nullptr) first_name = name;
        channels.push_back(channel);
    }
    if (count > MAX_CHANNELS) v.convertible = false;
    const std::vector<mdf_channel_rec *> numbered = channels;
    mdf_channel_rec *extra = nullptr;
    status = mdfchn_open_time(&extra, group);
    if (stopped(status)) return false;
    if (status == 0) channels.push_back(extra);
    if (!first_name.empty()) {
        status = mdfchn_open_name(&extra, group, first_name.c_str());
        if (stopped(status)) return false;
        if (status == 0) channels.push_back(extra);
    }

    if (!read_records(group, channels)) return false;
    // Back to the first record and once more, then to the last one.
    status = mdfgrp_seek(group, 0, MDFGRP_SEEK_SET);
    if (stopped(status)) return false;
    if (status == 0 && !read_records(group, channels)) return false;
    if (records > 0) {
        status = mdfgrp_seek(group, static_cast<std::int32_t>(records - 1), MDFGRP_SEEK_SET);
        if (stopped(status)) return false;
        status = mdfgrp_seek(group, -1, MDFGRP_SEEK_CUR);
        if (stopped(status)) return false;
        if (status == 0 && !read_records(group, channels)) return false;
    }

    if (v.convertible) {
        // As the converter: value channels that give no numbers are left out, and a time
        // channel that gives none makes the group unused.
        bool has_time = false, bad_time = false, has_value = false;
        std::vector<mdf_channel_rec *> used;
        for (mdf_channel_rec *channel : numbered) {
            const std::uint16_t type = mdf_u16(channel->cn, CN_TYPE);
            const bool number = mdfchn_check_value(channel) != MDF_NOT_NUMERIC;
            if (type == MDFCHN_TIME) (number ? has_time : bad_time) = true;
            if (type == MDFCHN_VALUE) has_value = has_value || number;
            if ((type == MDFCHN_TIME || type == MDFCHN_VALUE) && number) used.push_back(channel);
        }
        if (has_time && has_value && !bad_time) {
            v.times.emplace_back();
            if (!full_pass(group, used, records, v.times.back())) v.convertible = false;
        }
        if (mdflib_last_error() < 0) return false;
    }

    // The open channels in list order, then the closes.
    mdf_channel_rec *each = nullptr;
    for (status = mdfchn_first(&each, group); status == 0; status = mdfchn_next(&each)) {
    }
    if (stopped(status)) return false;
    for (mdf_channel_rec *channel : channels)
        if (stopped(mdfchn_close(channel))) return false;
    return !stopped(mdfgrp_close(group));
}

verdict walk(const std::string &name) {
    verdict v;
    if (mdflib_init("FUZZ") != 0) fail("the library does not start");
    mdf_file_rec *file = nullptr;
    int16_t status = mdffil_open(&file, name.c_str(), MDFFIL_READ);
    if (status != 0) v.convertible = false;
    if (!stopped(status) && status == 0) {
        if (file == nullptr) fail("file open gave 0 without a handle");
        const char *texts[7] = {};
        bool ok = !stopped(mdffil_info(file, &texts[0], &texts[1], &texts[2], &texts[3], &texts[4],
                                       &texts[5], &texts[6]));
        for (const char *text : texts) touch_text(ok ? text : nullptr);
        std::uint16_t groups = 0;
        std::uint32_t total = 0;
        ok = ok && !stopped(mdffil_groups(&groups, file)) &&
             !stopped(mdffil_channels(&total, file)) && !stopped(mdffil_check_sorted(file));
        if (groups > MAX_GROUPS) v.convertible = false;
        for (std::uint16_t g = 1; ok && g <= groups && g <= MAX_GROUPS; ++g)
            ok = walk_group(file, g, v);
        if (v.convertible && !merge_can_start(v)) v.convertible = false;
        if (!ok) {
            v.convertible = false;
            // The sticky error refuses everything but the closes.
            std::uint16_t again = 0;
            const int16_t sticky = mdflib_last_error();
            if (mdffil_groups(&again, file) != sticky) fail("a sticky error was not kept", sticky);
        }
        check_status(mdffil_close(file));
    }
    check_status(mdflib_exit());
    return v;
}

// The whole conversion of the input (as the converter's main runs it after the start-up) into
// scratch files; the ADF file it writes must read back as one complete block.
void convert(const std::string &dat, bool trigger, bool interpolate) {
    static std::FILE *messages = std::getenv("FUZZ_VERBOSE") ? stderr : std::tmpfile();
    if (messages == nullptr) fail("no temporary file for the messages");
    if (messages != stderr) std::rewind(messages);
    msg_set_stream(messages);
    const std::string adf = scratch(".adf"), tmp = scratch(".ctmp");
    std::snprintf(conv.dat_name, sizeof conv.dat_name, "%s", dat.c_str());
    std::snprintf(conv.adf_name, sizeof conv.adf_name, "%s", adf.c_str());
    std::snprintf(conv.tmp_name, sizeof conv.tmp_name, "%s", tmp.c_str());
    conv.trace_level = 0;
    conv.trigger_flag = trigger ? 1 : 0;
    conv.interpolation_flag = interpolate ? 1 : 0;
    if (conv_run() != 0) fail("the conversion did not run to its end");
    msg_exit();

    adf_file *a = adf_open_read(adf.c_str(), 2);
    if (a == nullptr) fail("the ADF file cannot be read");
    int blocks = 0, r;
    while ((r = adf_read_next(a)) > 0) blocks += r == 1;
    if (r != 0 || blocks != 1) fail("the ADF file is not one complete block", r);
    adf_close(a);
    std::remove(adf.c_str());
    std::remove(tmp.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    quiet_stdout();
    const std::string dat = scratch(".dat");
    const std::string tmp = scratch(".tmp");
    {
        std::FILE *f = std::fopen(dat.c_str(), "wb");
        if (f == nullptr) fail("cannot write the scratch file");
        if (size > 0 && std::fwrite(data, 1, size, f) != size)
            fail("cannot write the scratch file");
        std::fclose(f);
    }
    std::remove(tmp.c_str());

    if (mdflib_init("FUZZ") != 0) fail("the library does not start");
    const int16_t sorted = mdffil_test_sorted(dat.c_str());
    check_status(sorted);
    bool copy = false;
    if (sorted == MDF_NOT_SORTED) {
        const int16_t status = mdffil_sort(dat.c_str(), tmp.c_str());
        check_status(status);
        copy = status == 0;
    }
    check_status(mdflib_exit());

    const verdict input = walk(dat);
    const verdict sorted_copy = copy ? walk(tmp) : verdict{false, {}};
    // The converter reads the sorted copy of an unsorted input and ends when the sort fails.
    const bool convertible =
        sorted == MDF_NOT_SORTED ? copy && sorted_copy.convertible : input.convertible;
    std::remove(tmp.c_str());
    if (convertible && size > 0) convert(dat, (data[size / 2] & 1) != 0, (data[size / 3] & 2) != 0);
    std::remove(dat.c_str());
    return 0;
}
