// Keyed messages of the conversion: empty location, the key, the key's text in the converter's
// current language as the format, and the values.
#ifndef TRAXCON_CONVMSG_H
#define TRAXCON_CONVMSG_H

#include "Msg.h"
#include "conv.h"

#include <cstdlib>

template <class... A>
void conv_info(const char *key, A... args) {
    msg_info("", key, conv_text(key), args...);
}

template <class... A>
void conv_warn(const char *key, A... args) {
    msg_warn("", key, conv_text(key), args...);
}

template <class... A>
void conv_err(const char *key, A... args) {
    msg_err("", key, conv_text(key), args...);
}

// Ends the program with exit status 1.
template <class... A>
[[noreturn]] void conv_faterr(const char *key, A... args) {
    msg_faterr("", key, conv_text(key), args...);
    std::exit(1); // not reached: msg_faterr does not return
}

#endif
