// The archive's only access to its file or files: buffered writing and spanning over volumes.
#pragma once

#include <cstdint>
#include <string>

#include "zip/big_file.h"
#include "zip/zip_buffer.h"

// Asked for a volume change: (volume number from 1, code, user value); true to go on.
using ZipVolumeCallback = bool (*)(int32_t volume, int32_t code, intptr_t userValue);

class CZipVolumeStorage {
public:
    enum SpanMode {
        notSpanned = 0,
        removableDisks = 1,
        numberedVolumes = 2,
        existingUnknown = 3,  // existing archive, kind decided from the drive type
        existingNumbered = 4  // existing archive, numbered volumes if spanned
    };

    CZipVolumeStorage() = default;
    CZipVolumeStorage(const CZipVolumeStorage&) = delete;
    CZipVolumeStorage& operator=(const CZipVolumeStorage&) = delete;
    virtual ~CZipVolumeStorage() = default;

    void Open(const std::string& path, int mode, int32_t volumeSize);
    void Close(bool afterException);
    uint32_t Read(void* destination, uint32_t count, bool atOnce);
    void Write(const void* source, uint32_t count, bool atOnce);
    void Flush();
    uint32_t GetPosition() const;
    // Whether the archive spans volumes, and which way.
    enum class SpanState { existing = -1, none = 0, creating = 1 };
    SpanState GetSpanState() const;
    int32_t GetCurrentVolume() const { return currentVolume; }
    uint32_t FreeInVolume() const;
    uint32_t FreeInBuffer() const { return writeBuffer.Size() - bufferedBytes; }
    void SetSpanModeFromDirectory(uint16_t volume);
    void ChangeVolume(int32_t volume);
    void StartNextVolume(int32_t needed, const std::string* path);
    std::string VolumeFileName(bool isLast, const std::string* path) const;
    std::string ReadVolumeFileName(int32_t volume) const;
    uint32_t FreeDiskSpace() const;
    bool OpenVolumeFile(const std::string& path, unsigned flags, bool throwOnFailure);
    [[noreturn]] void ThrowError(int raw) const;

    void SetVolumeCallback(ZipVolumeCallback callback, intptr_t userValue) {
        volumeCallback = callback;
        callbackUserValue = userValue;
    }

    // The file in use, lent to the central directory; null while closed.
    CZipBigFile* GetFile() const { return file; }

    uint32_t writeBufferSize = 65535;
    intptr_t callbackUserValue = 0;
    CZipBigFile internalFile;
    CZipBigFile* file = nullptr;
    int32_t spanMode = notSpanned;
    ZipVolumeCallback volumeCallback = nullptr;
    int32_t volumeSize = 0;
    uint32_t bufferedBytes = 0;
    uint32_t volumeFree = 0;
    CZipBuffer writeBuffer;
    uint32_t volumeWritten = 0;
    bool creatingSpanned = false;
    int32_t currentVolume = -1;
    // The file an existing archive was opened as (its last volume), full path.
    std::string lastVolumePath;

private:
    void BufferedWrite(const uint8_t* source, uint32_t count);
};
