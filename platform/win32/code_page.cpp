// Code pages and name collation on Windows: the system's ANSI and OEM code pages and UTF-8.
#include "platform/code_page.h"

#include <mbstring.h>

#include <vector>

#include "platform/win32/win32_util.h"

namespace platform {

namespace {

// Text of one code page to UTF-16; false when it holds bytes that are not valid there.
bool ToWide(const std::string& text, UINT codePage, std::wstring& wide) {
    wide.clear();
    if (text.empty())
        return true;
    const int size = static_cast<int>(text.size());
    const int count =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (count <= 0)
        return false;
    wide.resize(static_cast<size_t>(count));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(),
                               count) == count;
}

// UTF-16 to one code page; false when a character has no exact counterpart there (no best fit:
// "Ø" must not quietly become "O").
bool FromWide(const std::wstring& wide, UINT codePage, std::string& text) {
    text.clear();
    if (wide.empty())
        return true;
    const int size = static_cast<int>(wide.size());
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int count =
        WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0)
        return false;
    text.resize(static_cast<size_t>(count));
    if (WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), count, nullptr,
                            usedDefaultOut) != count) {
        return false;
    }
    return !usedDefault;
}

// from -> to, exact both ways: the result converts back to the same text.
bool Recode(const std::string& text, UINT from, UINT to, std::string& out) {
    std::wstring wide;
    std::string back;
    std::wstring wideBack;
    if (!ToWide(text, from, wide) || !FromWide(wide, to, out))
        return false;
    return ToWide(out, to, wideBack) && wideBack == wide && FromWide(wideBack, from, back) &&
           back == text;
}

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.c_str());
}

// The text with every letter in lower case, as the file system's own case table folds it.
std::string LowerCase(const std::string& text) {
    std::wstring wide;
    if (!ToWide(text, CP_ACP, wide) || wide.empty())
        return text;
    const int count = static_cast<int>(wide.size());
    std::wstring lower(wide.size(), L'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, wide.data(), count, lower.data(), count) !=
        count) {
        return text;
    }
    std::string result;
    return FromWide(lower, CP_ACP, result) ? result : text;
}

}  // namespace

bool OemToLocal(const std::string& oem, std::string& local) {
    return Recode(oem, CP_OEMCP, CP_ACP, local);
}

bool Utf8ToLocal(const std::string& utf8, std::string& local) {
    return Recode(utf8, CP_UTF8, CP_ACP, local);
}

bool LocalToOem(const std::string& local, std::string& oem) {
    return Recode(local, CP_ACP, CP_OEMCP, oem);
}

bool LocalToUtf8(const std::string& local, std::string& utf8) {
    return Recode(local, CP_ACP, CP_UTF8, utf8);
}

std::string StoredTextToLocal(const std::string& stored) {
    return stored;  // the Windows build has always written its state file in the ANSI code page
}

int CollateNames(const std::string& a, const std::string& b) {
    return _mbscoll(Bytes(a), Bytes(b));
}

int CollateNamesNoCase(const std::string& a, const std::string& b) {
    // _mbsicoll of the C locale, which the program keeps, folds only A to Z; names differing in
    // the case of other letters of the ANSI code page (É and é) name the same file on Windows.
    return _mbsicoll(Bytes(LowerCase(a)), Bytes(LowerCase(b)));
}

bool IsLeadByte(uint8_t byte) {
    return IsDBCSLeadByte(byte) != 0;
}

}  // namespace platform
