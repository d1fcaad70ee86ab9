// Shared fixture of the MDFLIB tests: a freshly initialised library for every test.
#pragma once

#include "Mdfbuild_helper.h"
#include "mdfint.h"

#include <gtest/gtest.h>

#include <string>

class MdfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        mdflib_state.status = 0; // a test may have locked the library
        mdflib_exit();
        ASSERT_EQ(mdflib_init(""), 0);
    }
    void TearDown() override {
        mdflib_state.status = 0;
        mdflib_exit();
    }
    // Saves a built file under a fresh temporary name.
    static std::string save(const mdfbuild::Builder &b, const char *name = "file.dat") {
        std::string path = mdfbuild::temp_path(name);
        b.save(path);
        return path;
    }
    // Opens a file for reading; returns the status, the handle in *file.
    static int16_t open(const std::string &path, mdf_file_rec **file, int16_t mode = MDFFIL_READ) {
        return mdffil_open(file, path.c_str(), mode);
    }
    static int count_blocks() {
        int n = 0;
        for (mdf_block_node *b = mdflib_state.blocks; b != nullptr; b = b->next) ++n;
        return n;
    }
};

// Runs internal operations (which throw their status) and returns the status.
template <class F>
int16_t status_of(F &&f) {
    return mdflib_catch(std::forward<F>(f));
}
