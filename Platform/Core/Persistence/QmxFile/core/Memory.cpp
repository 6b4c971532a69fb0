#include "Memory.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace Quellmar::qmxfile {

namespace {

std::unordered_set<void*>& tracked() {
    static auto* set = new std::unordered_set<void*>;
    return *set;
}

}  // namespace

char* allocateString(const std::string& text) {
    auto* buffer = static_cast<char*>(std::malloc(text.size() + 1));
    if (!buffer)
        return nullptr;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    tracked().insert(buffer);
    return buffer;
}

char** allocateStrings(const std::vector<std::string>& texts) {
    auto** list = static_cast<char**>(allocateArray((texts.size() + 1) * sizeof(char*)));
    if (!list)
        return nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        list[i] = allocateString(texts[i]);
        if (!list[i]) {
            for (std::size_t j = 0; j < i; ++j)
                releaseTracked(list[j]);
            releaseTracked(list);
            return nullptr;
        }
    }
    list[texts.size()] = nullptr;
    return list;
}

void* allocateArray(std::size_t bytes) {
    void* buffer = std::calloc(1, bytes ? bytes : 1);
    if (buffer)
        tracked().insert(buffer);
    return buffer;
}

bool releaseTracked(void* pointer) {
    if (!pointer || tracked().erase(pointer) == 0)
        return false;
    std::free(pointer);
    return true;
}

bool isTracked(void* pointer) {
    return pointer && tracked().count(pointer) != 0;
}

std::size_t trackedBufferCount() {
    return tracked().size();
}

}  // namespace Quellmar::qmxfile
