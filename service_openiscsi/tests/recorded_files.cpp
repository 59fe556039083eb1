#include "service_openiscsi/tests/recorded_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

const std::string kRecorded = RECORDED_DIR;

std::string recorded(const std::string &name)
{
    std::string path = kRecorded + "/" + name;
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    EXPECT_NE(nullptr, file) << "no fixture " << path;
    if (file == nullptr)
        return text;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    fclose(file);
    return text;
}

int recordedExitCode(const std::string &name)
{
    std::string cmd = recorded(name + ".cmd");
    size_t at = cmd.find("\nexit: ");
    EXPECT_NE(std::string::npos, at) << name;
    return at == std::string::npos ? -1 : atoi(cmd.c_str() + at + 7);
}
