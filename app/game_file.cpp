// Deleting a file of the game folder, read-only or not.
#include "app/game_file.h"

#include <cstdint>

#include "platform/file_system.h"

bool DeleteGameFile(const std::string& path) {
    // Most files go at the first try; only one that would not is looked at for a read-only mark
    // (Windows refuses to delete a read-only file), which is taken off before the second try.
    if (platform::RemoveFile(path)) {
        return true;
    }
    const uint32_t attributes = platform::GetAttributes(path);
    if (attributes != platform::invalidAttributes &&
        (attributes & platform::attributeReadOnly) != 0 &&
        (attributes & platform::attributeFolder) == 0) {
        platform::SetAttributes(path, attributes & ~platform::attributeReadOnly);
        if (platform::RemoveFile(path)) {
            return true;
        }
    }
    return !platform::NameExists(path);
}
