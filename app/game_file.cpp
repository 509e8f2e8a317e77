// Deleting a file of the game folder, read-only or not.
#include "app/game_file.h"

#include <cstdint>

#include "platform/file_system.h"

void DeleteGameFile(const std::string& path) {
    const uint32_t attributes = platform::GetAttributes(path);
    if (attributes != platform::invalidAttributes &&
        (attributes & platform::attributeReadOnly) != 0 &&
        (attributes & platform::attributeFolder) == 0) {
        platform::SetAttributes(path, attributes & ~platform::attributeReadOnly);
    }
    platform::RemoveFile(path);
}
