// The archive's file access: open modes, buffered writing, reading across volumes, spanning.
#include "zip/volume_storage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "zip/path_helpers.h"
#include "zip/zip_exception.h"

namespace {

// The open modes of the archive (openExisting, 0, is what is left when none of these is given).
constexpr int openReadOnly = 1;
constexpr int create = 2;
constexpr int createSpanned = 3;

// Volumes are numbered 0 to 998: three digits in the file extension, with "zip" for the last.
constexpr int32_t volumeLimit = 999;

// Maps to the generic error code: misuse rather than a damaged archive.
constexpr int rawGenericError = 0;

constexpr uint8_t spanSignature[4] = {0x50, 0x4B, 0x07, 0x08};

constexpr unsigned readFlags = CFile::modeRead;
constexpr unsigned readWriteFlags = CFile::modeReadWrite;
constexpr unsigned createFlags = CFile::modeCreate | CFile::modeReadWrite;

std::string FormatNumber(const char* format, int32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<int>(number));
    return text;
}

}  // namespace

void CZipVolumeStorage::Open(const std::string& path, int mode, int32_t volumeSize) {
    writeBuffer.Allocate(writeBufferSize, false);
    bufferedBytes = 0;
    creatingSpanned = false;
    file = &internalFile;
    try {
        if (mode != create && mode != createSpanned) {
            OpenVolumeFile(path, mode == openReadOnly ? readFlags : readWriteFlags, true);
            lastVolumePath = internalFile.GetFilePath();
            spanMode = volumeSize != 0 ? existingNumbered : existingUnknown;
            return;  // the volume becomes known once the end record has been read
        }
        currentVolume = 0;
        if (mode == create) {
            spanMode = notSpanned;
            OpenVolumeFile(path, createFlags, true);
            return;
        }
        creatingSpanned = true;
        volumeWritten = 0;
        if (volumeSize > 0) {
            this->volumeSize = volumeSize;
            spanMode = numberedVolumes;
        } else {
            if (!volumeCallback)
                ThrowError(ZipRaw::callBackMissing);
            if (!IsRemovableDrive(path))
                ThrowError(ZipRaw::diskNotRemovable);
            spanMode = removableDisks;
        }
        StartNextVolume(static_cast<int32_t>(sizeof spanSignature), &path);
        Write(spanSignature, sizeof spanSignature, true);
    } catch (...) {
        // A storage whose open failed is closed again, so that nobody takes it for open.
        internalFile.Abort();
        writeBuffer.Release();
        bufferedBytes = 0;
        creatingSpanned = false;
        currentVolume = -1;
        spanMode = notSpanned;
        file = nullptr;
        throw;
    }
}

void CZipVolumeStorage::Close(bool afterException) {
    if (file && !afterException) {
        Flush();
        if (spanMode == numberedVolumes && creatingSpanned) {
            const std::string path = file->GetFilePath();
            const std::string finalName = VolumeFileName(true, &path);
            file->Close();
            if (GetPathKind(finalName) != PathKind::nothing)
                CFile::Remove(finalName);
            CFile::Rename(path, finalName);
        } else {
            file->Close();
        }
    } else if (file) {
        file->Abort();
    }
    writeBuffer.Release();
    bufferedBytes = 0;
    creatingSpanned = false;
    currentVolume = -1;
    spanMode = notSpanned;
    file = nullptr;
    lastVolumePath.clear();
}

uint32_t CZipVolumeStorage::Read(void* destination, uint32_t count, bool atOnce) {
    if (count == 0)
        return 0;
    if (!file)
        ThrowError(ZipRaw::corruptedArchive);
    auto* bytes = static_cast<uint8_t*>(destination);
    const bool spanned = GetSpanState() != SpanState::none;
    uint32_t got = file->Read(bytes, count);
    while (got == 0) {
        if (!spanned)
            ThrowError(ZipRaw::corruptedArchive);
        ChangeVolume(currentVolume + 1);
        got = file->Read(bytes, count);
    }
    if (got == count)
        return count;
    if (atOnce || !spanned)
        ThrowError(ZipRaw::corruptedArchive);
    while (got < count) {
        ChangeVolume(currentVolume + 1);
        const uint32_t more = file->Read(bytes + got, count - got);
        if (more == 0)
            ThrowError(ZipRaw::corruptedArchive);
        got += more;
    }
    return count;
}

void CZipVolumeStorage::Write(const void* source, uint32_t count, bool atOnce) {
    const auto* bytes = static_cast<const uint8_t*>(source);
    if (GetSpanState() == SpanState::none) {
        BufferedWrite(bytes, count);
        return;
    }
    // A spanned archive that was opened is only read; writing would create volumes over it.
    if (GetSpanState() == SpanState::existing)
        ThrowError(rawGenericError);
    const uint32_t need = atOnce ? count : 1;
    uint32_t done = 0;
    while (done < count) {
        while (FreeInVolume() < need) {
            if (spanMode == numberedVolumes && volumeWritten == 0 && bufferedBytes == 0) {
                volumeFree = need;  // an oversized block gets an empty volume of its own
            } else {
                StartNextVolume(static_cast<int32_t>(need), nullptr);
            }
        }
        const uint32_t part = std::min(FreeInVolume(), count - done);
        BufferedWrite(bytes + done, part);
        if (atOnce)
            return;
        done += part;
    }
}

void CZipVolumeStorage::BufferedWrite(const uint8_t* source, uint32_t count) {
    // Without a buffer (closed, or an opened spanned archive) there is no room to wait for.
    if (writeBuffer.IsEmpty() && count > 0)
        ThrowError(rawGenericError);
    uint32_t done = 0;
    while (done < count) {
        if (FreeInBuffer() == 0)
            Flush();
        const uint32_t part = std::min(FreeInBuffer(), count - done);
        std::memcpy(writeBuffer.Data() + bufferedBytes, source + done, part);
        bufferedBytes += part;
        done += part;
    }
}

void CZipVolumeStorage::Flush() {
    if (bufferedBytes > 0) {
        file->Write(writeBuffer.Data(), bufferedBytes);
        volumeWritten += bufferedBytes;
        bufferedBytes = 0;
    }
    if (spanMode == removableDisks)
        volumeFree = FreeDiskSpace();
}

uint32_t CZipVolumeStorage::GetPosition() const {
    const uint64_t position = file && file->IsOpen() ? file->GetPosition() : 0;
    return static_cast<uint32_t>(position) + bufferedBytes;
}

CZipVolumeStorage::SpanState CZipVolumeStorage::GetSpanState() const {
    if (spanMode == notSpanned)
        return SpanState::none;
    return creatingSpanned ? SpanState::creating : SpanState::existing;
}

uint32_t CZipVolumeStorage::FreeInVolume() const {
    uint32_t used = bufferedBytes;
    if (spanMode != removableDisks)
        used += volumeWritten;
    // Never wraps round to a huge room: a volume that is over-full has no room left.
    return volumeFree > used ? volumeFree - used : 0;
}

void CZipVolumeStorage::SetSpanModeFromDirectory(uint16_t volume) {
    currentVolume = volume;
    if (volume == 0) {
        spanMode = notSpanned;
        return;
    }
    if (spanMode == existingUnknown && file && IsRemovableDrive(file->GetFilePath())) {
        spanMode = removableDisks;
    } else {
        spanMode = numberedVolumes;
    }
    if (spanMode == removableDisks && !volumeCallback)
        ThrowError(ZipRaw::callBackMissing);
    // The last volume's number bounds every later volume change, on removable disks too.
    volumeSize = volume;
    writeBuffer.Release();  // a spanned archive that was opened is only read
}

void CZipVolumeStorage::ChangeVolume(int32_t volume) {
    // A volume that could not be opened is tried again by the next entry that needs it.
    if (volume == currentVolume && file && file->IsOpen())
        return;
    // Only a spanned archive has other volumes, and it ends with the one the end record names;
    // a damaged record must not send the reader beyond it.
    const bool spanned = spanMode == removableDisks || spanMode == numberedVolumes;
    const bool known = spanned && !creatingSpanned && volume >= 0 && volume <= volumeSize;
    if (!known || !file)
        ThrowError(ZipRaw::corruptedArchive);
    currentVolume = volume;
    std::string name;
    if (spanMode == removableDisks) {
        name = lastVolumePath;
        file->Close();
        if (!volumeCallback)
            ThrowError(ZipRaw::callBackMissing);
        if (!volumeCallback(currentVolume + 1, -1, callbackUserValue)) {
            throw CZipException(CZipException::operationAborted, name);
        }
    } else {
        name = ReadVolumeFileName(volume);
        file->Close();
    }
    OpenVolumeFile(name, readFlags, true);
}

// Volumes of a set being read are named after its last volume, the file that was opened: the
// engine's own naming (.000, .001, ...) or, where that volume is absent, Info-ZIP's (.z01, .z02,
// ... for volumes 0, 1, ...).
std::string CZipVolumeStorage::ReadVolumeFileName(int32_t volume) const {
    const std::string own = VolumeFileName(volume == volumeSize, &lastVolumePath);
    if (volume == volumeSize || GetPathKind(own) != PathKind::nothing)
        return own;
    const std::string infoZip = GetPathFolder(lastVolumePath) + GetPathTitle(lastVolumePath) +
                                FormatNumber(".z%.2d", volume + 1);
    return GetPathKind(infoZip) != PathKind::nothing ? infoZip : own;
}

void CZipVolumeStorage::StartNextVolume(int32_t needed, const std::string* path) {
    Flush();
    if (volumeWritten != 0) {
        volumeWritten = 0;
        currentVolume += 1;
        if (currentVolume >= volumeLimit)
            ThrowError(ZipRaw::volumeLimitReached);
    }
    const std::string name = spanMode == removableDisks ? (path ? *path : file->GetFilePath())
                                                        : VolumeFileName(false, path);
    file->Close();
    if (spanMode != removableDisks) {
        volumeFree = static_cast<uint32_t>(volumeSize);
        OpenVolumeFile(name, createFlags, true);
        return;
    }
    if (!volumeCallback)
        ThrowError(ZipRaw::callBackMissing);
    const std::string label = FormatNumber("pkback# %.3d", currentVolume + 1);
    int32_t code = needed;
    for (;;) {
        if (!volumeCallback(currentVolume + 1, code, callbackUserValue)) {
            throw CZipException(CZipException::operationAborted, name);
        }
        if (GetPathKind(name) != PathKind::nothing) {
            code = -2;  // this disk already holds something of that name
        } else if (!platform::SetDriveLabel(GetPathDrive(name), label)) {
            code = -3;
        } else if (!OpenVolumeFile(name, createFlags, false)) {
            code = -4;
        } else {
            break;
        }
    }
    volumeFree = FreeDiskSpace();
}

std::string CZipVolumeStorage::VolumeFileName(bool isLast, const std::string* path) const {
    const std::string base = path ? *path : (file ? file->GetFilePath() : std::string());
    const std::string extension = isLast ? "zip" : FormatNumber("%.3d", currentVolume);
    return GetPathFolder(base) + GetPathTitle(base) + "." + extension;
}

// The platform reduces the path to what its host measures (the drive on Windows, the file
// system holding the path on Linux). More than 4 GiB free is reported as the most the 32-bit
// count can hold rather than wrapped round to a small number.
uint32_t CZipVolumeStorage::FreeDiskSpace() const {
    uint64_t freeBytes = 0;
    if (!file || !platform::GetFreeDiskSpace(file->GetFilePath(), freeBytes))
        return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(freeBytes, UINT32_MAX));
}

bool CZipVolumeStorage::OpenVolumeFile(const std::string& path, unsigned flags,
                                       bool throwOnFailure) {
    CFileException error;
    if (internalFile.Open(path, flags | CFile::shareDenyWrite, &error))
        return true;
    if (throwOnFailure)
        throw error;
    return false;
}

void CZipVolumeStorage::ThrowError(int raw) const {
    ThrowZipException(raw, file && file->IsOpen() ? file->GetFilePath() : std::string());
}
