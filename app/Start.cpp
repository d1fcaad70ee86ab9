// Converter start-up: language, command line, file names, and the end of the program.
#include "conv.h"

#include "Argv.h"
#include "Msg.h"

#include <cstdio>
#include <cstring>
#include <iterator>

conv_state conv = {};

namespace {

// The significant digits of the columns: 1 to 17 (17 digits read back to the same double); any
// other value is a conversion error and leaves the setting as it was.
void save_digits(void *dest, const char *value) {
    int digits = 0;
    char end = '\0';
    if (std::sscanf(value, "%i%c", &digits, &end) != 1 || digits < 1 || digits > 17) {
        argv_conv_error();
        return;
    }
    *static_cast<int *>(dest) = digits;
}

// The argument table; the argument utility keeps a reference to it and sorts it in place.
argv_entry conv_arguments[] = {
    {"", 1, nullptr, nullptr, conv_key::TRAXCON_FILHLP, argv_save_string, &conv.file_base_name},
    {"trace", 0, nullptr, "1", conv_key::TRAXCON_TRACEHLP, argv_save_int, &conv.trace_level},
    {"trig", 0, "1", "0", conv_key::TRAXCON_TRIGHLP, argv_save_int, &conv.trigger_flag},
    {"noipol", 0, "0", "1", conv_key::TRAXCON_NOIPOLHLP, argv_save_int, &conv.interpolation_flag},
    {"digits", 0, nullptr, "7", conv_key::TRAXCON_DIGITSHLP, save_digits, &conv.digits},
};

// name = base + extension; the caller has checked that it fits.
void build_name(char (&name)[CONV_NAME_SIZE], const char *base, std::size_t length,
                const char *extension) {
    std::memcpy(name, base, length);
    std::memcpy(name + length, extension, std::strlen(extension) + 1);
}

} // namespace

void conv_set_language(int code) {
    lng__module_set_language(&conv_texts, code);
    msg_init_module(conv_text(conv_key::TRAXCON_MODNAM));
    msg_set_language(code);
    argv_set_language(code);
}

void conv_derive_names(void) {
    const char *base = conv.file_base_name != nullptr ? conv.file_base_name : "";
    const std::size_t length = std::strlen(base);
    if (length > CONV_BASE_NAME_MAX)
        conv_fatal(conv_key::TRAXCON_NAMELEN_ERR, base, static_cast<int>(CONV_BASE_NAME_MAX));
    build_name(conv.dat_name, base, length, CONV_DAT_EXT);
    build_name(conv.adf_name, base, length, CONV_ADF_EXT);
    build_name(conv.tmp_name, base, length, CONV_TMP_EXT);
}

void conv_start(int argc, const char *const *argv) {
    conv_set_language(LNG_GERMAN); // every text up to an =e is German
    msg_init_module(conv_text(conv_key::TRAXCON_MODNAM));
    argv_init(conv_arguments, static_cast<unsigned>(std::size(conv_arguments)), conv_set_language,
              conv_text, conv_key::TRAXCON_DESCR);
    argv_eval(argc, argv);
    conv_derive_names();
}

void conv_finish(void) {
    msg_exit();
    argv_free();
}
