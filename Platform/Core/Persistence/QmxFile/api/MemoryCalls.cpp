#include "Call.h"
#include "Memory.h"
#include "QMXL.h"

using namespace Quellmar::qmxfile;

extern "C" int QMXLreleaseString(char** text) {
    Call call("QMXLreleaseString");
    if (!text)
        return call.fail("no string address given");
    if (!*text)
        return 0;
    const bool ours = releaseTracked(*text);
    *text = nullptr;
    return ours ? 1
                : call.fail("the string was not handed out by this library or was released before");
}

extern "C" int QMXLreleaseStrings(int count, char** list) {
    Call call("QMXLreleaseStrings");
    if (count < 0)
        return call.fail("negative count " + std::to_string(count));
    if (count == 0)
        return 0;
    if (!list)
        return call.fail("no list given");
    if (!isTracked(list))
        return call.fail("the list was not handed out by this library or was released before");
    // Entries are cleared so that a second release through a copy of the list finds nothing.
    int released = 0;
    for (int i = 0; i < count; ++i) {
        if (list[i] && releaseTracked(list[i]))
            ++released;
        list[i] = nullptr;
    }
    return released;
}

extern "C" int QMXLreleaseArray(void* addressOfArrayPointer) {
    Call call("QMXLreleaseArray");
    if (!addressOfArrayPointer)
        return call.fail("no array address given");
    void** slot = static_cast<void**>(addressOfArrayPointer);
    if (!*slot)
        return 0;
    const bool ours = releaseTracked(*slot);
    *slot = nullptr;
    return ours ? 1
                : call.fail("the array was not handed out by this library or was released before");
}
