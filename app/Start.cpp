// Converter start-up: language, command line, file names, and the end of the program.
#include "conv.h"

#include "Argv.h"
#include "Lng.h"
#include "Msg.h"
#include "traxcon_version.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

conv_state conv = {};

namespace {

// An argument that names an existing file, as given or with ".dat": a file name even where it
// begins with the option prefix "/".
bool names_a_file(const char *argument) {
    std::error_code error;
    return std::filesystem::is_regular_file(argument, error) ||
           std::filesystem::is_regular_file(std::string(argument) + CONV_DAT_EXT, error);
}

// The base name of a file name given with ".dat" (in any letter case) that names the file, where
// "<name>.dat" does not exist: "x.dat" reads x.dat and writes x.adf and x.tmp. Any other name is
// the base name itself.
std::size_t base_length(const char *name) {
    const std::size_t length = std::strlen(name);
    const std::size_t ext = sizeof CONV_DAT_EXT - 1;
    if (length <= ext) return length;
    for (std::size_t i = 0; i < ext; ++i)
        if (std::tolower(static_cast<unsigned char>(name[length - ext + i])) != CONV_DAT_EXT[i])
            return length;
    std::error_code error;
    if (std::filesystem::exists(std::string(name) + CONV_DAT_EXT, error) ||
        !std::filesystem::exists(name, error))
        return length;
    return length - ext;
}

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
    const std::size_t length = base_length(base);
    if (length > CONV_BASE_NAME_MAX)
        conv_fatal(conv_key::TRAXCON_NAMELEN_ERR, base, static_cast<int>(CONV_BASE_NAME_MAX));
    build_name(conv.dat_name, base, length, CONV_DAT_EXT);
    build_name(conv.adf_name, base, length, CONV_ADF_EXT);
    build_name(conv.tmp_name, base, length, CONV_TMP_EXT);
}

void conv_start(int argc, const char *const *argv) {
    lng__select_output_encoding(); // table texts in the terminal's encoding, arguments as given
    conv_set_language(LNG_GERMAN); // every text up to an =e is German
    msg_init_module(conv_text(conv_key::TRAXCON_MODNAM));
    argv_init(conv_arguments, static_cast<unsigned>(std::size(conv_arguments)), conv_set_language,
              conv_text, conv_key::TRAXCON_DESCR);
    argv_set_file_test(names_a_file);
    argv_set_version("traxcon " TRAXCON_VERSION);
    argv_eval(argc, argv);
    conv_derive_names();
}

void conv_finish(void) {
    msg_exit();
    argv_free();
}
