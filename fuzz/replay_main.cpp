// Runs a fuzz target over files instead of under the fuzzer: each argument
// is a file, or a folder whose files are all run.  Used to replay the seed
// and regression corpora in the ordinary (and sanitizer) builds.  Exit code
// 0 after every input ran; a finding aborts the process as under the fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

bool runFile(const char *path)
{
    FILE *file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "replay: cannot open %s\n", path);
        return false;
    }
    size_t room = 1 << 16;
    size_t size = 0;
    uint8_t *data = static_cast<uint8_t *>(malloc(room));
    size_t got;
    while (data != nullptr && (got = fread(data + size, 1, room - size, file)) > 0) {
        size += got;
        if (size == room) {
            room *= 2;
            uint8_t *grown = static_cast<uint8_t *>(realloc(data, room));
            if (grown == nullptr)
                free(data);
            data = grown;
        }
    }
    fclose(file);
    if (data == nullptr) {
        fprintf(stderr, "replay: no memory for %s\n", path);
        return false;
    }
    fprintf(stderr, "replay: %s (%zu bytes)\n", path, size);
    LLVMFuzzerTestOneInput(data, size);
    free(data);
    return true;
}

// Runs path; a folder's entries run in no particular order.  Counts inputs.
bool runPath(const char *path, size_t *inputs)
{
    struct stat info;
    if (stat(path, &info) != 0) {
        fprintf(stderr, "replay: no such input %s\n", path);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        (*inputs)++;
        return runFile(path);
    }
    DIR *folder = opendir(path);
    if (folder == nullptr)
        return false;
    bool ok = true;
    while (struct dirent *entry = readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        char child[4096];
        snprintf(child, sizeof child, "%s/%s", path, entry->d_name);
        ok = runPath(child, inputs) && ok;
    }
    closedir(folder);
    return ok;
}

}  // namespace

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize != nullptr)
        LLVMFuzzerInitialize(&argc, &argv);
    size_t inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; i++)
        ok = runPath(argv[i], &inputs) && ok;
    if (inputs == 0) {
        fprintf(stderr, "replay: no input given\n");
        return 1;
    }
    fprintf(stderr, "replay: %zu inputs ran\n", inputs);
    return ok ? 0 : 1;
}
