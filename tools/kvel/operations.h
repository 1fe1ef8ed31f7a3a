#pragma once

// The image operations of the tool, each one call of the library.

#include <kvel/imagebase.h>

#include <memory>
#include <string>
#include <vector>

struct Operation {
    const char* name;
    const char* arguments;  // as the usage shows them, before IN OUT
    const char* summary;
    int argumentCount;
    bool takesNearest;  // accepts --nearest
    // The result (the same image when changed in place), or null when the
    // library refuses. `nearest` is set when --nearest was given.
    std::unique_ptr<KVEL::Image> (*run)(std::unique_ptr<KVEL::Image> image, const std::vector<std::string>& args,
                                        bool nearest);
};

const std::vector<Operation>& operations();
const Operation* findOperation(const std::string& name);
