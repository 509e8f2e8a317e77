// Randomized round trip of mission names. From a seed: a game folder, and a mission archive whose
// names come in every form archives hold them (UTF-8 flag, Info-ZIP Unicode path field, OEM code
// page) and include every kind of name the install must refuse. The install must put exactly the
// accepted files in place under their names, leave nothing for a refused one, save each replaced
// game file under its own name, and the deinstall must give the game folder back name for name
// and byte for byte.
//
// BRENNICK_ROUNDTRIP_SEEDS sets how many seeds run, BRENNICK_ROUNDTRIP_FIRST_SEED the first one;
// a failing seed is replayed with BRENNICK_ROUNDTRIP_FIRST_SEED=<seed> BRENNICK_ROUNDTRIP_SEEDS=1.
// BRENNICK_ROUNDTRIP_VERBOSE=1 prints every seed's names and the program's output.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/exceptions.h"
#include "platform/file_system.h"
#include "tests/e2e/mission_fixture.h"
#include "tests/zip/archive_bytes.h"

namespace {

using archive_bytes::UnicodeToUtf8;
using archive_bytes::Utf8ToUnicode;
using mission_test::GameFolder;
using Rng = std::mt19937;

size_t Pick(Rng& rng, size_t count) {
    return count == 0 ? 0 : rng() % count;
}

bool Chance(Rng& rng, unsigned percent) {
    return rng() % 100 < percent;
}

// ------------------------------------------------------------------------------ text of names
// Names are Unicode with '/' between their parts until they meet the program.

struct CasePair {
    char32_t upper;
    char32_t lower;
};

// Letters outside the ranges below that the names use; no final sigma, dotless i or micro sign,
// whose simple case folding is not a plain pair.
constexpr CasePair casePairs[] = {{0x178, 0xFF},  {0x160, 0x161}, {0x17D, 0x17E},
                                  {0x152, 0x153}, {0x141, 0x142}, {0x104, 0x105},
                                  {0x118, 0x119}, {0x17B, 0x17C}, {0x401, 0x451}};

bool Within(char32_t c, char32_t first, char32_t last) {
    return c >= first && c <= last;
}

char32_t Lower(char32_t c) {
    if (Within(c, 'A', 'Z') || (Within(c, 0xC0, 0xDE) && c != 0xD7) ||
        (Within(c, 0x391, 0x3A9) && c != 0x3A2) || Within(c, 0x410, 0x42F))
        return c + 0x20;
    for (const CasePair& pair : casePairs)
        if (c == pair.upper)
            return pair.lower;
    return c;
}

char32_t Upper(char32_t c) {
    if (Within(c, 'a', 'z') || (Within(c, 0xE0, 0xFE) && c != 0xF7) ||
        (Within(c, 0x3B1, 0x3C9) && c != 0x3C2) || Within(c, 0x430, 0x44F))
        return c - 0x20;
    for (const CasePair& pair : casePairs)
        if (c == pair.lower)
            return pair.upper;
    return c;
}

std::u32string Folded(std::u32string text) {
    std::transform(text.begin(), text.end(), text.begin(), Lower);
    return text;
}

// Each letter turned to the other case with the given chance. Draws once from rng whatever the
// length, so that a name holding the temporary folder's path leaves the later names alone.
std::u32string RandomCase(std::u32string text, Rng& rng, unsigned percent) {
    Rng letters(static_cast<uint32_t>(rng()));
    for (char32_t& c : text) {
        if (Chance(letters, percent))
            c = Lower(c) == c ? Upper(c) : Lower(c);
    }
    return text;
}

std::u32string Ascii(const std::string& text) {
    return std::u32string(text.begin(), text.end());
}

std::vector<std::u32string> Split(const std::u32string& name) {
    std::vector<std::u32string> parts(1);
    for (const char32_t c : name) {
        if (c == U'/')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::u32string Join(const std::u32string& folder, const std::u32string& name) {
    return folder.empty() ? name : folder + U'/' + name;
}

std::u32string LeafOf(const std::u32string& name) {
    return Split(name).back();
}

// The name in the program's form (local code page, backslashes); false when the local code page
// cannot hold it.
bool ToLocal(const std::u32string& name, std::string& local) {
    if (!platform::Utf8ToLocal(UnicodeToUtf8(name), local))
        return false;
    std::replace(local.begin(), local.end(), '/', '\\');
    return true;
}

std::string Local(const std::u32string& name) {
    std::string local;
    ToLocal(name, local);
    return local;
}

std::u32string FromLocal(const std::string& local) {
    std::string utf8;
    if (!platform::LocalToUtf8(local, utf8))
        utf8 = local;
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    return Utf8ToUnicode(utf8);
}

// For messages: quoted, control characters escaped, long runs of one letter shortened.
std::string Show(const std::u32string& name) {
    std::u32string shown;
    for (size_t i = 0; i < name.size(); ++i) {
        size_t run = 1;
        while (i + run < name.size() && name[i + run] == name[i]) ++run;
        if (run > 8) {
            shown += name[i] + Ascii("{x" + std::to_string(run) + "}");
            i += run - 1;
            continue;
        }
        if (name[i] < 0x20 || name[i] == 0x7F) {
            static const char hex[] = "0123456789ABCDEF";
            shown += Ascii(std::string("\\x") + hex[name[i] >> 4] + hex[name[i] & 15]);
            continue;
        }
        shown += name[i];
    }
    return "'" + UnicodeToUtf8(shown) + "'";
}

// ------------------------------------------------------------------------ the build under test

struct Host {
    bool windows = false;
    size_t gamePathLength = 0;  // Windows: characters of the game folder path; Linux: host bytes
    // The same as if the temporary folder's number had all its 8 digits: what the names are
    // generated by, so that a seed makes the same names in every temporary folder.
    size_t generatedPathLength = 0;
    std::vector<std::u32string> ownFiles;  // the program and its state file, backup, old backup
    std::u32string absoluteBase;  // the work folder as a rooted name without drive ('/' between)
    bool oem437 = true;           // the OEM code page is 437 (the locale can choose another)
};

// The measure of a part or path that the host's limits count: characters on Windows (every
// letter here is one UTF-16 unit), bytes on Linux.
size_t Measure(const Host& host, const std::u32string& text) {
    return host.windows ? text.size() : UnicodeToUtf8(text).size();
}

size_t PathLength(const Host& host, const std::u32string& name) {
    return host.gamePathLength + 1 + Measure(host, name);
}

constexpr size_t windowsPathLimit = 259;  // MAX_PATH less the terminating zero
constexpr size_t linuxPathLimit = 4095;   // PATH_MAX less the terminating zero
// Values read from the state file stop at 1023 characters, so a record ("name:1") of a longer
// name cannot be read back whole: such names may be refused, or must still come back.
constexpr size_t recordLimit = 1023 - 2;

// Names whose fate depends on how the program counts a limit to within a few characters are not
// generated: the test holds the program to the rule, not to one way of counting.
bool NearALimit(const Host& host, const std::u32string& name) {
    const size_t length = host.generatedPathLength + 1 + Measure(host, name);
    if (host.windows)
        return length >= 245 && length <= 275;
    const size_t bytes = UnicodeToUtf8(name).size();
    return (length >= 3800 && length <= 4400) || (bytes >= 980 && bytes <= 1100);
}

bool IsOwnFile(const Host& host, const std::u32string& part) {
    const std::u32string key = Folded(part);
    return std::any_of(host.ownFiles.begin(), host.ownFiles.end(),
                       [&](const std::u32string& own) { return Folded(own) == key; });
}

bool NamesDevice(const std::u32string& part) {
    std::u32string stem = Folded(part.substr(0, part.find(U'.')));
    stem.erase(stem.find_last_not_of(U' ') + 1);
    if (stem == U"con" || stem == U"prn" || stem == U"aux" || stem == U"nul")
        return true;
    return stem.size() == 4 && (stem.substr(0, 3) == U"com" || stem.substr(0, 3) == U"lpt") &&
           Within(stem[3], '1', '9');
}

// Why the install must refuse the name, or "" when it must accept it. The local code page is
// looked at where the name is decoded.
std::string RefusalOf(const Host& host, const std::u32string& name) {
    if (name.empty())
        return "empty";
    if (name[0] == U'/')
        return "absolute";
    if (name.find(U':') != std::u32string::npos)
        return "colon (drive or stream)";
    const std::vector<std::u32string> parts = Split(name);
    for (const std::u32string& part : parts) {
        if (part.empty())
            return "empty part";
        if (part.find_first_not_of(U". ") == std::u32string::npos)
            return "climbs out";
        if (std::any_of(part.begin(), part.end(), [](char32_t c) { return c < 0x20 || c == 0x7F; }))
            return "control character";
        if (part.find_first_of(U"<>\"|?*") != std::u32string::npos)
            return "character Windows forbids";
        if (part.front() == U' ')
            return "leading blank";
        if (part.back() == U' ')
            return "trailing blank";
        if (part.back() == U'.')
            return "trailing dot";
        if (Measure(host, part) > 255)
            return "part longer than 255";
        if (NamesDevice(part))
            return "device name";
    }
    if (parts.size() == 1 && IsOwnFile(host, parts[0]))
        return "the program's own file";
    if (PathLength(host, name) > (host.windows ? windowsPathLimit : linuxPathLimit))
        return "path too long";
    return "";
}

// ------------------------------------------------------------------------ folders and files

struct Item {
    std::u32string name;  // as spelled on disk
    bool folder = false;
    std::string content;
};

using Tree = std::map<std::u32string, Item>;  // by folded name

// True when a file of this name could not be put in place: a file stands where it needs a
// folder, or a folder where it is to go.
bool Blocked(const Host& host, const Tree& tree, const std::u32string& name) {
    const std::vector<std::u32string> parts = Split(name);
    if (parts.size() > 1 && IsOwnFile(host, parts[0]))
        return true;
    std::u32string prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix = Join(prefix, parts[i]);
        const auto found = tree.find(Folded(prefix));
        if (found != tree.end() && !found->second.folder)
            return true;
    }
    const auto found = tree.find(Folded(name));
    return found != tree.end() && found->second.folder;
}

std::map<std::u32string, std::string> Listing(const Tree& tree) {
    std::map<std::u32string, std::string> listing;
    for (const auto& [key, item] : tree)
        listing[item.name] = item.folder ? "<folder>" : item.content;
    return listing;
}

std::map<std::u32string, std::string> Listing(const mission_test::Snapshot& snapshot) {
    std::map<std::u32string, std::string> listing;
    for (const auto& [name, content] : snapshot) listing[FromLocal(name)] = content;
    return listing;
}

// --------------------------------------------------------------------------- name generation

const std::u32string palettes[] = {
    U"abcdefghijklmnopqrstuvwxyz0123456789_-",
    U"abcdefghijklmnopqrstuvwxyzéüäöåçñæáíóúâêôûàèòùïîìëÿß",  // code page 437 holds these
    U"abcdefghijklmnopqrstuvwxyzøšžœõãè€©",                   // Windows-1252 (È Ø Š in capitals)
    U"αβγδλπσωдживяёы",                                       // Greek, Cyrillic
    U"łąężabc",                                               // Central European
    U"漢字水ゲム",
    U"abc#%&'+,;=@[]{}~!$^`",
};
constexpr unsigned paletteWeights[] = {50, 15, 15, 8, 4, 4, 4};
const char* const extensions[] = {"txt", "str", "bin", "wav", "mis", "gam", "cfg", "PCX", "Bin"};

size_t PickPalette(Rng& rng) {
    unsigned roll = static_cast<unsigned>(Pick(rng, 100));
    size_t palette = 0;
    while (roll >= paletteWeights[palette]) roll -= paletteWeights[palette++];
    return palette;
}

// A part the install accepts on a host that can hold its letters.
std::u32string NicePart(Rng& rng, bool withExtension, size_t palette) {
    const std::u32string& letters = palettes[palette];
    for (;;) {
        const size_t length = 1 + Pick(rng, 10);
        std::u32string part;
        for (size_t i = 0; i < length; ++i) part += letters[Pick(rng, letters.size())];
        if (length >= 3 && Chance(rng, 10))
            part[1 + Pick(rng, length - 2)] = U' ';
        if (Chance(rng, 3))
            part.insert(0, U".");
        if (withExtension)
            part += U"." + Ascii(extensions[Pick(rng, std::size(extensions))]);
        part = RandomCase(part, rng, 25);
        if (!NamesDevice(part))
            return part;
    }
}

std::u32string NicePart(Rng& rng, bool withExtension) {
    return NicePart(rng, withExtension, PickPalette(rng));
}

// The ASCII letter an accented Latin letter is written with where it has no place.
char32_t BaseLetter(char32_t c) {
    static const char latin1[] = "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo-ouuuuyty";
    if (Within(c, 0xC0, 0xFF))
        return static_cast<char32_t>(latin1[c - 0xC0]);
    switch (c) {
        case 0x160:
        case 0x161:
            return U's';
        case 0x17D:
        case 0x17E:
        case 0x17B:
        case 0x17C:
            return U'z';
        case 0x152:
        case 0x153:
            return U'o';
        case 0x178:
            return U'Y';
        case 0x141:
        case 0x142:
            return U'l';
        case 0x104:
        case 0x105:
            return U'a';
        case 0x118:
        case 0x119:
            return U'e';
        default:
            return 0;
    }
}

// The name as a packer without Unicode would write it in code page 437: letters it cannot hold
// (and some it can) become their base letter, '_' or '?'.
std::string Approximation(const std::u32string& name, Rng& rng) {
    std::string oem;
    for (const char32_t c : name) {
        std::string one;
        if (c < 0x80 || (archive_bytes::Utf8ToCp437(UnicodeToUtf8(std::u32string(1, c)), one) &&
                         Chance(rng, 50))) {
            oem += c < 0x80 ? std::string(1, static_cast<char>(c)) : one;
            continue;
        }
        const char32_t base = BaseLetter(c);
        oem += base != 0 && Chance(rng, 60) ? static_cast<char>(base) : Chance(rng, 50) ? '_' : '?';
    }
    return oem;
}

// A game file's twin spelled without accents, so that a name read in the wrong form hits it.
std::u32string PlainTwin(const std::u32string& name) {
    std::u32string twin;
    for (const char32_t c : name) {
        const char32_t base = c < 0x80 ? c : BaseLetter(c);
        twin += base != 0 ? base : U'_';
    }
    return twin;
}

std::string RandomContent(Rng& rng) {
    const size_t size = Chance(rng, 4) ? 60000 + Pick(rng, 20000) : Pick(rng, 3000);
    const unsigned seed = static_cast<unsigned>(rng());
    return Chance(rng, 50) ? mission_test::TextBytes(size, seed)
                           : mission_test::NoiseBytes(size, seed);
}

// A part of exactly this host measure, of plain or accented letters.
std::u32string LongPart(Rng& rng, const Host& host, size_t length, bool accented) {
    std::u32string part;
    size_t measure = 0;
    while (measure < length) {
        const bool wide = accented && (host.windows || length - measure >= 2) && Chance(rng, 50);
        part += wide ? U"éøšж"[Pick(rng, host.windows ? 3 : 4)]
                     : static_cast<char32_t>(U'a' + Pick(rng, 26));
        measure += wide && !host.windows ? 2 : 1;
    }
    return part;
}

void AddFile(Tree& tree, const std::u32string& name, const std::string& content) {
    const std::vector<std::u32string> parts = Split(name);
    std::u32string prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix = Join(prefix, parts[i]);
        tree.emplace(Folded(prefix), Item{prefix, true, ""});
    }
    tree[Folded(name)] = Item{name, false, content};
}

bool FitsGame(const Host& host, const Tree& tree, const std::u32string& name) {
    std::string local;
    if (!ToLocal(name, local) || !RefusalOf(host, name).empty() || Blocked(host, tree, name))
        return false;
    if (host.windows && host.generatedPathLength + 1 + Measure(host, name) > 230)
        return false;
    return tree.count(Folded(name)) == 0;
}

// Folders up to three deep, each holding files of its own (a folder left empty by the
// deinstall is removed, so the game has none).
Tree MakeGame(Rng& rng, const Host& host) {
    Tree tree;
    std::vector<std::u32string> folders = {U""};
    const size_t folderCount = 1 + Pick(rng, 4);
    for (size_t i = 0; i < folderCount; ++i) {
        const std::u32string parent = folders[Pick(rng, folders.size())];
        if (std::count(parent.begin(), parent.end(), U'/') >= 2)
            continue;
        const std::u32string folder = Join(parent, NicePart(rng, false));
        const bool taken = std::any_of(folders.begin(), folders.end(), [&](const auto& other) {
            return Folded(other) == Folded(folder);
        });
        if (!taken)
            folders.push_back(folder);
    }
    for (const std::u32string& folder : folders) {
        const size_t files = 1 + Pick(rng, 4);
        for (size_t i = 0; i < files; ++i) {
            const std::u32string name = Join(folder, NicePart(rng, Chance(rng, 85)));
            if (!FitsGame(host, tree, name))
                continue;
            AddFile(tree, name, RandomContent(rng));
            const std::u32string twin = Join(folder, PlainTwin(LeafOf(name)));
            if (Chance(rng, 40) && FitsGame(host, tree, twin))
                AddFile(tree, twin, RandomContent(rng));
        }
    }
    return tree;
}

// ---------------------------------------------------------------------------- the mission

struct MissionEntry {
    std::u32string name;     // as the install must read it
    std::string source;      // what kind of name it is
    std::string form;        // how the archive writes it
    std::string refusal;     // why the install must refuse it; "" when it must accept it
    bool eitherWay = false;  // accepted or refused are both right (a record too long to read)
    bool recorded = false;   // the first accepted entry of its file
    int recordFlag = 0;      // 1 when it replaces a game file
    archive_bytes::Entry bytes;
};

struct Expectation {
    Tree after;                                   // the game folder after the install
    std::map<std::u32string, std::string> saved;  // backup: on-disk name -> original content
    std::set<std::u32string> placed;              // folded names of the files put in place
    size_t refused = 0;
};

struct World {
    Host host;
    std::vector<std::u32string> gameFiles;
};

// Expects the entry's file in place: in the game's folders as they are spelled, under the name of
// the first entry that reached it, with the content of the last.
void Apply(Expectation& x, MissionEntry& entry) {
    const std::u32string key = Folded(entry.name);
    if (x.placed.count(key) != 0) {
        x.after[key].content = entry.bytes.data;
        return;
    }
    const std::vector<std::u32string> parts = Split(entry.name);
    std::u32string spelled;
    std::u32string prefix;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        prefix = Join(prefix, parts[i]);
        const auto found = x.after.find(Folded(prefix));
        spelled = found != x.after.end() ? found->second.name : Join(spelled, parts[i]);
        x.after.emplace(Folded(prefix), Item{spelled, true, ""});
    }
    const auto existing = x.after.find(key);
    if (existing != x.after.end()) {
        x.saved[existing->second.name] = existing->second.content;
        entry.recordFlag = 1;
    }
    x.after[key] = Item{Join(spelled, parts.back()), false, entry.bytes.data};
    x.placed.insert(key);
    entry.recorded = true;
}

std::u32string NewName(Rng& rng, const Expectation& x) {
    std::vector<std::u32string> folders = {U""};
    for (const auto& [key, item] : x.after) {
        if (item.folder)
            folders.push_back(item.name);
    }
    std::u32string name = RandomCase(folders[Pick(rng, folders.size())], rng, 30);
    while (Chance(rng, 25)) name = Join(name, NicePart(rng, false));
    return Join(name, NicePart(rng, true));
}

std::u32string DeviceName(Rng& rng) {
    static const char* const devices[] = {"con",  "prn",  "aux",  "nul",
                                          "com1", "com9", "lpt1", "lpt5"};
    const std::u32string stem = RandomCase(Ascii(devices[Pick(rng, std::size(devices))]), rng, 50);
    switch (Pick(rng, 3)) {
        case 0:
            return stem;
        case 1:
            return stem + U".txt";
        default:
            return stem + U" .dat";
    }
}

// Linux: short enough to be recorded (accepted), longer than a record can hold (either way), or
// over PATH_MAX (refused); all over MAX_PATH on Windows.
std::u32string DeepPath(Rng& rng, const Host& host) {
    const size_t band = Pick(rng, 3);
    const size_t target = band == 0   ? 300 + Pick(rng, 600)
                          : band == 1 ? 1200 + Pick(rng, 2400)
                                      : 4500 + Pick(rng, 1500);
    std::u32string name;
    while (UnicodeToUtf8(name).size() < target) {
        name = Join(name, LongPart(rng, host, 40 + Pick(rng, 200), Chance(rng, 30)));
    }
    return Join(name, NicePart(rng, true, 0));
}

std::u32string Climbing(Rng& rng, const World& world, const std::u32string& leaf) {
    switch (Pick(rng, 5)) {
        case 0:
            return U"../" + (Chance(rng, 50) ? U"mission.zip" : leaf);
        case 1:
            return NicePart(rng, false, 0) + U"/../../" + leaf;
        case 2:
            return U"..";
        case 3:
            return U"...";
        default: {
            const std::u32string folder =
                world.gameFiles.empty() ? U"x" : Split(world.gameFiles[0]).front();
            return folder + U"/. ./" + leaf;
        }
    }
}

// A name the install must refuse on at least one build, mostly made from a game file's name.
std::u32string Adversarial(Rng& rng, const World& world, const Expectation& x,
                           std::string& source) {
    const std::vector<std::u32string>& game = world.gameFiles;
    const std::u32string base = !game.empty() && Chance(rng, 70)
                                    ? RandomCase(game[Pick(rng, game.size())], rng, 20)
                                    : NewName(rng, x);
    std::vector<std::u32string> parts = Split(base);
    const size_t at = Pick(rng, parts.size());
    std::u32string& part = parts[at];
    std::u32string& leaf = parts.back();
    switch (Pick(rng, 14)) {
        case 0:
            source = "leading blank";
            part.insert(0, Chance(rng, 70) ? U" " : U"\t");
            break;
        case 1:
            source = "trailing blank";
            part += Chance(rng, 70) ? U" " : U"\t";
            break;
        case 2:
            source = "trailing dot";
            part += Chance(rng, 70) ? U"." : U". .";
            break;
        case 3: {
            source = "control character";
            static const char32_t controls[] = {U'\n', U'\r', 0x01, 0x1B, 0x1F, 0x7F, U'\t'};
            part.insert(Pick(rng, part.size() + 1), 1, controls[Pick(rng, std::size(controls))]);
            break;
        }
        case 4: {
            source = "wildcard";
            const size_t letter = Pick(rng, leaf.size());
            if (Chance(rng, 50))
                leaf[letter] = Chance(rng, 50) ? U'?' : U'*';
            else
                leaf = leaf.substr(0, letter) + U"*";
            break;
        }
        case 5: {
            source = "character Windows forbids";
            static const std::u32string forbidden = U"<>:\"|";
            part.insert(Pick(rng, part.size() + 1), 1, forbidden[Pick(rng, forbidden.size())]);
            break;
        }
        case 6:
            source = "folder part over 255";
            parts.insert(parts.end() - 1,
                         LongPart(rng, world.host, 256 + Pick(rng, 60), Chance(rng, 50)));
            break;
        case 7:
            source = "part at the limit of 255";
            leaf = LongPart(rng, world.host, 255 + Pick(rng, 2), Chance(rng, 50));
            break;
        case 8:
            source = "deep path";
            return DeepPath(rng, world.host);
        case 9:
            source = "climbs out";
            return Climbing(rng, world, leaf);
        case 10:
            source = "device name";
            leaf = DeviceName(rng);
            break;
        case 11:
            source = "absolute";
            return (Chance(rng, 20) ? U"C:" : U"") + world.host.absoluteBase + U"/abs" +
                   Ascii(std::to_string(Pick(rng, 1000))) + U".txt";
        case 12:
            source = "the program's own file";
            return RandomCase(world.host.ownFiles[Pick(rng, world.host.ownFiles.size())], rng, 50);
        default:
            source = "letters outside Windows-1252";
            leaf = NicePart(rng, Chance(rng, 70), 3 + Pick(rng, 3));
            break;
    }
    std::u32string name;
    for (const std::u32string& each : parts) name = name.empty() ? each : name + U'/' + each;
    return name;
}

std::u32string NextName(Rng& rng, const World& world, const Expectation& x,
                        const std::vector<MissionEntry>& earlier, std::string& source) {
    const size_t roll = Pick(rng, 100);
    if (roll < 24 && !world.gameFiles.empty()) {
        source = "replaces a game file";
        return RandomCase(world.gameFiles[Pick(rng, world.gameFiles.size())], rng, 50);
    }
    if (roll < 42) {
        source = "new file";
        return NewName(rng, x);
    }
    if (roll < 54 && !earlier.empty()) {
        const size_t index = Pick(rng, earlier.size());
        if (!earlier[index].eitherWay) {
            source = "repeats entry " + std::to_string(index);
            return RandomCase(earlier[index].name, rng, 50);
        }
    }
    return Adversarial(rng, world, x, source);
}

// Writes the name in one of the forms an archive can hold it in, and works out whether the local
// code page can hold what the install reads.
void WriteName(MissionEntry& entry, Rng& rng, const World& world) {
    const std::string utf8 = UnicodeToUtf8(entry.name);
    std::string oem;
    const bool oemHolds = archive_bytes::Utf8ToCp437(utf8, oem);
    archive_bytes::Entry& bytes = entry.bytes;
    bool readAsOem = false;
    switch (oemHolds ? Pick(rng, 4) : Pick(rng, 2)) {
        case 0:
            entry.form = "UTF-8 flag";
            bytes.name = utf8;
            bytes.flag = archive_bytes::flagUtf8;
            break;
        case 1:
            entry.form = "Unicode path field";
            bytes.name = Approximation(entry.name, rng);
            bytes.extra = archive_bytes::UnicodePathField(bytes.name, utf8);
            break;
        case 2: {
            // A field that no longer belongs to the name (a tool renamed the entry) or of a
            // version not known: the raw name counts. It names a game file, to make a mistake show.
            const std::vector<std::u32string>& game = world.gameFiles;
            const std::string other =
                game.empty() ? "other.txt" : UnicodeToUtf8(game[Pick(rng, game.size())]);
            const bool stale = Chance(rng, 60);
            entry.form = stale ? "OEM with a stale Unicode path field"
                               : "OEM with a Unicode path field of version 2";
            bytes.name = oem;
            bytes.extra = stale ? archive_bytes::UnicodePathField(oem + "~", other)
                                : archive_bytes::UnicodePathField(oem, other, 2);
            readAsOem = true;
            break;
        }
        default:
            entry.form = "OEM";
            bytes.name = oem;
            readAsOem = true;
            break;
    }
    std::string local;
    const bool held =
        readAsOem ? platform::OemToLocal(oem, local) : platform::Utf8ToLocal(utf8, local);
    if (held && readAsOem)
        entry.name = FromLocal(local);  // the same unless the OEM code page is not 437
    entry.refusal = held ? RefusalOf(world.host, entry.name) : "not in the local code page";
}

std::vector<MissionEntry> MakeMission(Rng& rng, const World& world, Expectation& x) {
    std::vector<MissionEntry> entries;
    const size_t count = 6 + Pick(rng, 20);
    for (size_t attempt = 0; entries.size() < count && attempt < count * 20; ++attempt) {
        MissionEntry entry;
        entry.name = NextName(rng, world, x, entries, entry.source);
        WriteName(entry, rng, world);
        const bool checksLength = entry.refusal.empty() || entry.refusal == "path too long";
        if (checksLength && NearALimit(world.host, entry.name))
            continue;
        if (entry.refusal.empty() && Blocked(world.host, x.after, entry.name))
            continue;
        entry.eitherWay = entry.refusal.empty() && UnicodeToUtf8(entry.name).size() > recordLimit;
        entry.bytes.data = RandomContent(rng);
        entry.bytes.deflate = Chance(rng, 50);
        if (entry.refusal.empty() && !entry.eitherWay)
            Apply(x, entry);
        else if (!entry.refusal.empty())
            ++x.refused;
        entries.push_back(std::move(entry));
    }
    return entries;
}

// ------------------------------------------------------------------------------ the checks

struct Problem {
    std::string kind;
    std::string detail;
};

using Problems = std::vector<Problem>;

// Size of a file (the program: a mission file written over it would have another size).
uint64_t FileSize(const std::string& path) {
    platform::FileFinder finder;
    return finder.FindFirst(path) ? finder.Current().size : 0;
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

void CompareFolder(const std::map<std::u32string, std::string>& expected,
                   const std::map<std::u32string, std::string>& actual, const std::string& phase,
                   Problems& problems) {
    std::map<std::u32string, std::u32string> actualByKey;
    for (const auto& [name, content] : actual) actualByKey[Folded(name)] = name;
    std::set<std::u32string> expectedKeys;
    for (const auto& [name, content] : expected) {
        expectedKeys.insert(Folded(name));
        const auto found = actual.find(name);
        if (found != actual.end()) {
            if (found->second != content)
                problems.push_back({phase + ": content differs",
                                    Show(name) + " holds " + std::to_string(found->second.size()) +
                                        " bytes, not the " + std::to_string(content.size())});
            continue;
        }
        const auto other = actualByKey.find(Folded(name));
        if (other != actualByKey.end())
            problems.push_back(
                {phase + ": spelled otherwise", Show(other->second) + " instead of " + Show(name)});
        else
            problems.push_back({phase + ": missing", Show(name)});
    }
    for (const auto& [name, content] : actual) {
        if (expectedKeys.count(Folded(name)) == 0)
            problems.push_back({phase + ": unexpected file or folder", Show(name)});
    }
}

std::set<std::string> WorkFolderNames(const GameFolder& game) {
    std::set<std::string> names;
    platform::FileFinder finder;
    for (bool found = finder.FindFirst(game.WorkPath("*")); found; found = finder.FindNext()) {
        if (finder.Current().name != "." && finder.Current().name != "..")
            names.insert(finder.Current().name);
    }
    return names;
}

void CheckWorkFolder(const GameFolder& game, const std::string& phase, Problems& problems) {
    const std::set<std::string> expected = {"game", "mission.zip"};
    for (const std::string& name : WorkFolderNames(game)) {
        if (expected.count(name) == 0)
            problems.push_back({phase + ": file beside the game folder", Show(FromLocal(name))});
    }
}

// The [Mission] values of the state file (a byte-order mark passed over).
std::map<std::string, std::string> StateValues(const GameFolder& game) {
    std::string text = game.StateFile();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    std::map<std::string, std::string> values;
    for (const std::string& line : mission_test::Lines(text)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

void CheckRecords(const GameFolder& game, const std::vector<MissionEntry>& entries,
                  Problems& problems) {
    std::vector<std::string> expected;
    for (const MissionEntry& entry : entries) {
        if (entry.recorded)
            expected.push_back(Local(entry.name) + ":" + std::to_string(entry.recordFlag));
    }
    std::map<std::string, std::string> values = StateValues(game);
    std::vector<std::string> actual;
    const int count = std::atoi(values["FCount"].c_str());
    for (int i = 1; i <= count; ++i) actual.push_back(values["F" + std::to_string(i)]);
    if (values["Installed"] != "1")
        problems.push_back({"state file: not marked installed", values["Installed"]});
    if (actual == expected)
        return;
    std::string detail = "recorded";
    for (const std::string& record : actual) detail += " " + Show(FromLocal(record));
    detail += "; expected";
    for (const std::string& record : expected) detail += " " + Show(FromLocal(record));
    problems.push_back({"state file: records differ", detail});
}

// The backup holds each replaced game file under its on-disk name, written in the OEM code page
// where that holds the name and in UTF-8 with the flag set where it does not.
void CheckBackup(const GameFolder& game, const Host& host, const Expectation& x,
                 Problems& problems) {
    std::map<std::u32string, std::string> read;
    for (const auto& [name, content] : mission_test::ReadArchive(game.Companion(".Zip")))
        read[FromLocal(name)] = content;
    CompareFolder(x.saved, read, "backup archive", problems);
    const std::string bytes = test_support::ReadFile(game.Companion(".Zip"));
    for (const archive_bytes::CentralRecord& record : archive_bytes::ReadCentralDirectory(bytes)) {
        const bool utf8Flag = (record.flag & archive_bytes::flagUtf8) != 0;
        std::string local;
        const std::u32string name = utf8Flag ? Utf8ToUnicode(record.name)
                                    : platform::OemToLocal(record.name, local)
                                        ? FromLocal(local)
                                        : Utf8ToUnicode(record.name);
        if (x.saved.count(name) == 0)
            problems.push_back({"backup archive: raw name", Show(name)});
        std::string oem;
        if (host.oem437 && utf8Flag == archive_bytes::Utf8ToCp437(UnicodeToUtf8(name), oem))
            problems.push_back({utf8Flag
                                    ? "backup archive: UTF-8 flag on a name code page 437 holds"
                                    : "backup archive: name outside code page 437 without "
                                      "the UTF-8 flag",
                                Show(name)});
    }
}

void CheckInstallOutput(const test_support::ProgramResult& result, size_t refused,
                        Problems& problems) {
    if (result.exitCode != 3)
        problems.push_back({"install: exit code", std::to_string(result.exitCode)});
    const size_t skipped = CountOf(result.output, "SKIPPED (");
    if (skipped != refused)
        problems.push_back({"install: refusals", std::to_string(skipped) + " SKIPPED for " +
                                                     std::to_string(refused) + " refused names"});
    const std::string closing =
        refused > 0 ? "Mission installed with errors." : "Mission Installed Successfuly.";
    if (!mission_test::HasLine(result.output, closing))
        problems.push_back({"install: closing line", "no \"" + closing + "\""});
    for (const std::string& line : mission_test::Lines(result.output)) {
        if (line.find("Error ") != std::string::npos ||
            line.find("was not installed whole") != std::string::npos)
            problems.push_back({"install: error line", line});
    }
}

// Entries that may go either way count as accepted when their file is there.
void SettleEitherWay(std::vector<MissionEntry>& entries, Expectation& x,
                     const std::map<std::u32string, std::string>& installed) {
    std::set<std::u32string> keys;
    for (const auto& [name, content] : installed) keys.insert(Folded(name));
    for (MissionEntry& entry : entries) {
        if (!entry.eitherWay)
            continue;
        if (keys.count(Folded(entry.name)) != 0)
            Apply(x, entry);
        else
            ++x.refused;
    }
}

// The deinstall removes only the folder that directly holds a recorded file, when it is empty
// (a folder it could not remove is tried again only by a later record, after some folder went):
// new folders above those stay, empty.
Tree AfterDeinstall(const Tree& before, const Expectation& x,
                    const std::vector<MissionEntry>& entries) {
    Tree tree = before;
    for (const auto& [key, item] : x.after) {
        if (item.folder)
            tree.emplace(key, item);
    }
    std::set<std::u32string> kept;
    for (const MissionEntry& entry : entries) {
        if (!entry.recorded)
            continue;
        const size_t slash = entry.name.rfind(U'/');
        const std::u32string folder =
            slash == std::u32string::npos ? U"" : entry.name.substr(0, slash);
        if (kept.count(folder) != 0)
            continue;
        const std::u32string key = Folded(folder);
        const auto found = tree.find(key);
        const auto inside = tree.lower_bound(key + U'/');
        const bool empty = inside == tree.end() || inside->first.rfind(key + U'/', 0) != 0;
        if (!folder.empty() && found != tree.end() && found->second.folder && empty) {
            tree.erase(found);
            kept.clear();
        } else {
            kept.insert(folder);
        }
    }
    return tree;
}

std::string Report(uint32_t seed, const Tree& before, const std::vector<MissionEntry>& entries,
                   const Problems& problems, const std::string& install,
                   const std::string& deinstall) {
    std::ostringstream out;
    out << "seed " << seed << " (replay: BRENNICK_ROUNDTRIP_FIRST_SEED=" << seed
        << " BRENNICK_ROUNDTRIP_SEEDS=1)\n";
    for (const Problem& problem : problems)
        out << "  " << problem.kind << ": " << problem.detail << "\n";
    out << "  game files:";
    for (const auto& [key, item] : before) {
        if (!item.folder)
            out << " " << Show(item.name);
    }
    out << "\n  mission entries:\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        const MissionEntry& entry = entries[i];
        out << "    [" << i << "] " << Show(entry.name) << " (" << entry.source << "; "
            << entry.form << ") "
            << (entry.eitherWay         ? "either way"
                : entry.refusal.empty() ? "accepted"
                                        : "refused: " + entry.refusal)
            << "\n";
    }
    out << "  install output:\n" << install.substr(0, 6000) << "\n";
    out << "  deinstall output:\n" << deinstall.substr(0, 3000) << "\n";
    return out.str();
}

Host DescribeHost(const GameFolder& game) {
    Host host;
    const std::string& program = game.Program();
    const std::u32string programName = FromLocal(program.substr(program.rfind('\\') + 1));
    host.windows = Folded(programName).size() > 4 &&
                   Folded(programName).substr(programName.size() - 4) == U".exe";
    const std::u32string base =
        host.windows ? programName.substr(0, programName.size() - 4) : programName;
    host.ownFiles = {programName, base + U".Ini", base + U".Zip", base + U".Taff"};
    host.gamePathLength =
        host.windows ? FromLocal(game.Path()).size() : platform::ToHostPath(game.Path()).size();
    std::u32string work = FromLocal(game.WorkPath(""));
    if (work.size() > 1 && work[1] == U':')
        work.erase(0, 2);
    while (!work.empty() && work.back() == U'/') work.pop_back();
    const size_t digits = work.size() - 1 - work.find_last_not_of(U"0123456789");
    host.generatedPathLength = host.gamePathLength + 8 - digits;
    host.absoluteBase =
        host.windows ? work : Utf8ToUnicode(platform::ToHostPath(game.WorkPath("")));
    while (!host.absoluteBase.empty() && host.absoluteBase.back() == U'/')
        host.absoluteBase.pop_back();
    // 0x9B is the cent sign in code page 437 (o with stroke in 850, ...).
    std::string cent;
    host.oem437 = platform::OemToLocal("\x9B", cent) && FromLocal(cent) == U"\u00A2";
    return host;
}

// Runs one seed; the problems found, with a report for replaying it.
// What the seeds covered, so that a change of the generator that stops making some kind of name
// shows in the run's summary.
struct Coverage {
    std::map<std::string, size_t> sources;  // kind of name -> entries
    std::map<std::string, size_t> forms;    // form of name -> entries
    size_t entries = 0, refused = 0, saved = 0;

    void Count(const std::vector<MissionEntry>& mission, const Expectation& x) {
        for (const MissionEntry& entry : mission) {
            ++sources[entry.source.rfind("repeats", 0) == 0 ? "repeats" : entry.source];
            ++forms[entry.form];
        }
        entries += mission.size();
        refused += x.refused;
        saved += x.saved.size();
    }
};

Problems RunSeed(uint32_t seed, uint64_t programSize, Coverage& coverage, std::string& report) {
    Problems problems;
    GameFolder game;
    Rng rng(seed);
    World world{DescribeHost(game), {}};
    const Tree before = MakeGame(rng, world.host);
    for (const auto& [key, item] : before) {
        if (!item.folder) {
            game.Put(Local(item.name), item.content);
            world.gameFiles.push_back(item.name);
        }
    }
    Expectation x;
    x.after = before;
    std::vector<MissionEntry> entries = MakeMission(rng, world, x);
    std::vector<archive_bytes::Entry> archiveEntries;
    for (const MissionEntry& entry : entries) archiveEntries.push_back(entry.bytes);
    const std::string archive = archive_bytes::Build(archiveEntries).bytes;
    test_support::WriteFile(game.WorkPath("mission.zip"), archive);

    std::string installOutput, deinstallOutput;
    try {
        const mission_test::Snapshot original = mission_test::TakeSnapshot(game);
        CompareFolder(Listing(before), Listing(original), "setting up the game folder", problems);
        if (!problems.empty()) {
            report = Report(seed, before, entries, problems, "", "");
            return problems;
        }
        const test_support::ProgramResult install = game.Run({game.WorkPath("mission.zip"), "-a"});
        installOutput = install.output;
        const std::map<std::u32string, std::string> installed =
            Listing(mission_test::TakeSnapshot(game));
        SettleEitherWay(entries, x, installed);
        coverage.Count(entries, x);
        CheckInstallOutput(install, x.refused, problems);
        CompareFolder(Listing(x.after), installed, "after the install", problems);
        CheckRecords(game, entries, problems);
        CheckBackup(game, world.host, x, problems);
        CheckWorkFolder(game, "install", problems);
        if (test_support::ReadFile(game.WorkPath("mission.zip")) != archive)
            problems.push_back({"install: mission archive changed", ""});
        if (FileSize(game.Program()) != programSize)
            problems.push_back({"install: program changed", ""});
        if (test_support::Exists(game.Companion(".Taff")))
            problems.push_back({"install: an old backup appeared", ""});

        const test_support::ProgramResult deinstall = game.Run({"-d", "-a"});
        deinstallOutput = deinstall.output;
        if (deinstall.exitCode != 1)
            problems.push_back({"deinstall: exit code", std::to_string(deinstall.exitCode)});
        if (!mission_test::HasLine(deinstall.output, "Deinstalled successfuly."))
            problems.push_back({"deinstall: no success line", ""});
        if (deinstall.output.find("not found in backup!") != std::string::npos)
            problems.push_back({"deinstall: not found in backup", ""});
        CompareFolder(Listing(AfterDeinstall(before, x, entries)),
                      Listing(mission_test::TakeSnapshot(game)), "after the deinstall", problems);
        CheckWorkFolder(game, "deinstall", problems);
    } catch (const CFileException& error) {
        problems.push_back({"test stopped by a file error",
                            std::to_string(error.osError) + " " + Show(FromLocal(error.fileName))});
    } catch (const CException&) {
        problems.push_back({"test stopped by an exception of the engine", ""});
    } catch (const std::exception& error) {
        problems.push_back({"test stopped by an exception", error.what()});
    }
    if (!problems.empty() || std::getenv("BRENNICK_ROUNDTRIP_VERBOSE") != nullptr)
        report = Report(seed, before, entries, problems, installOutput, deinstallOutput);
    return problems;
}

uint32_t EnvironmentNumber(const char* name, uint32_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0'
               ? static_cast<uint32_t>(std::strtoul(value, nullptr, 10))
               : fallback;
}

}  // namespace

TEST(NameRoundTripE2E, RandomMissions_AcceptedNamesComeBackExactlyAndRefusedOnesChangeNothing) {
    const std::string program = test_support::BuiltProgramPath();
    const uint64_t programSize = FileSize(program);
    const bool windows =
        program.size() > 4 && Folded(Ascii(program.substr(program.size() - 4))) == U".exe";
    const uint32_t first = EnvironmentNumber("BRENNICK_ROUNDTRIP_FIRST_SEED", 1);
    const uint32_t count = EnvironmentNumber("BRENNICK_ROUNDTRIP_SEEDS", windows ? 150 : 250);

    struct Kind {
        size_t seeds = 0;
        uint32_t firstSeed = 0;
        std::string example;
    };
    std::map<std::string, Kind> kinds;
    Coverage coverage;
    size_t failedSeeds = 0;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t seed = first; seed < first + count; ++seed) {
        std::string report;
        const Problems problems = RunSeed(seed, programSize, coverage, report);
        if (problems.empty() && !report.empty())
            std::printf("%s", report.c_str());
        if (problems.empty())
            continue;
        if (++failedSeeds <= 3)
            ADD_FAILURE() << report;
        std::set<std::string> seen;
        for (const Problem& problem : problems) {
            if (!seen.insert(problem.kind).second)
                continue;
            Kind& kind = kinds[problem.kind];
            if (kind.seeds++ == 0) {
                kind.firstSeed = seed;
                kind.example = problem.detail;
            }
        }
    }
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    std::printf(
        "[ roundtrip] seeds %u to %u in %lld s: %zu entries, %zu refused, %zu game files "
        "saved\n",
        first, first + count - 1, static_cast<long long>(seconds), coverage.entries,
        coverage.refused, coverage.saved);
    for (const auto* counts : {&coverage.sources, &coverage.forms}) {
        std::string line = "[ roundtrip]";
        for (const auto& [name, number] : *counts)
            line += " " + name + " " + std::to_string(number) + ";";
        std::printf("%s\n", line.c_str());
    }
    if (failedSeeds == 0)
        return;
    std::ostringstream summary;
    summary << failedSeeds << " of " << count << " seeds failed. Kinds (seeds, first seed, "
            << "example):\n";
    for (const auto& [name, kind] : kinds)
        summary << "  " << name << ": " << kind.seeds << ", seed " << kind.firstSeed << ", "
                << kind.example.substr(0, 300) << "\n";
    ADD_FAILURE() << summary.str();
}
