// The program's resources as the system loads them: the dialog template
// byte for byte, icon and cursor images pixel for pixel against the XPM
// artwork they were made from, and the version resource and the manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "build_info.h"
#include "shell/shell.h"

// The artwork itself (XPM is C source).
#include "../../../resources/icon-16x16-16c.xpm"
#include "../../../resources/icon-16x16-2c.xpm"
#include "../../../resources/icon-32x32-16c.xpm"
#include "../../../resources/icon-32x32-2c.xpm"
#include "../../../resources/wait-cursor.xpm"

namespace {

struct Bytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

Bytes resource(const char* name, const char* type, HMODULE module = nullptr) {
    const HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr) return {};
    return {static_cast<const unsigned char*>(LockResource(LoadResource(module, found))),
            SizeofResource(module, found)};
}

class Reader {
public:
    explicit Reader(Bytes bytes) : bytes_(bytes) {}
    unsigned word() {
        unsigned v = bytes_.data[at_] | (bytes_.data[at_ + 1] << 8);
        at_ += 2;
        return v;
    }
    unsigned long dword() {
        unsigned long low = word();
        return low | (static_cast<unsigned long>(word()) << 16);
    }
    int coordinate() { return static_cast<short>(word()); }
    // A name or an ordinal; ordinals come back as "#n".
    std::string name() {
        unsigned first = word();
        if (first == 0xFFFF) return "#" + std::to_string(word());
        std::string text;
        for (; first != 0; first = word()) text += static_cast<char>(first);
        return text;
    }
    void align_to_dword() { at_ = (at_ + 3) & ~std::size_t{3}; }
    bool inside() const { return at_ <= bytes_.size; }

private:
    Bytes bytes_;
    std::size_t at_ = 0;
};

struct Control {
    std::string window_class;
    int id;
    std::string text;
    unsigned long style;
    int x, y, width, height;
    bool operator==(const Control&) const = default;
};

void PrintTo(const Control& c, std::ostream* out) {
    *out << c.window_class << " " << c.id << " \"" << c.text << "\" " << std::hex << c.style << std::dec << " "
         << c.x << "," << c.y << " " << c.width << "x" << c.height;
}

// The predefined window classes by their ordinals.
const std::string kStatic = "#130";
const std::string kButton = "#128";

}  // namespace

TEST(Resources, DialogTemplateIsExactlyTheProcessorTestDialog) {
    const Bytes bytes = resource("PROCTEST", MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(bytes.data, nullptr);
    Reader r(bytes);
    EXPECT_EQ(r.dword(), 0x10C800C0ul);  // style
    EXPECT_EQ(r.dword(), 0ul);           // extended style
    const unsigned count = r.word();
    EXPECT_EQ(count, 9u);
    const int x = r.coordinate(), y = r.coordinate(), cx = r.coordinate(), cy = r.coordinate();
    EXPECT_EQ((std::vector<int>{x, y, cx, cy}), (std::vector<int>{46, 53, 210, 155}));
    EXPECT_EQ(r.name(), "");  // no menu
    EXPECT_EQ(r.name(), "");  // the default dialog class
    EXPECT_EQ(r.name(), "Processor Test");
    EXPECT_EQ(r.word(), 8u);  // point size
    EXPECT_EQ(r.name(), "MS Sans Serif");

    const std::vector<Control> expected = {
        {kStatic, 100, "Program Name", 0x50020001, 15, 15, 180, 8},
        {kStatic, 101, "Notice", 0x50020001, 15, 70, 180, 8},
        {kStatic, 102, "Version", 0x50020001, 15, 25, 180, 8},
        {kStatic, 103, "", 0x50020000, 110, 90, 85, 8},
        {kStatic, -1, "Score:", 0x50020002, 15, 105, 85, 8},
        {kStatic, 104, "", 0x50020000, 110, 105, 85, 8},
        {kButton, 1, "Run Test", 0x50010001, 40, 125, 50, 14},
        {kButton, 2, "Quit", 0x50010000, 120, 125, 50, 14},
        {kStatic, -1, "VELMORAICON", 0x50000003, 96, 40, 18, 20},
    };
    std::vector<Control> controls;
    for (unsigned i = 0; i < count && i < 20; ++i) {
        r.align_to_dword();
        Control c;
        c.style = r.dword();
        EXPECT_EQ(r.dword(), 0ul) << "extended style of control " << i;
        c.x = r.coordinate();
        c.y = r.coordinate();
        c.width = r.coordinate();
        c.height = r.coordinate();
        c.id = static_cast<short>(r.word());
        c.window_class = r.name();
        c.text = r.name();
        EXPECT_EQ(r.word(), 0u) << "creation data of control " << i;
        controls.push_back(c);
    }
    EXPECT_TRUE(r.inside());
    EXPECT_EQ(controls, expected);
}

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

// Compares a DIB as icon resources hold it (header, palette, colour bits and
// mask, both bottom-up) with an XPM image: "None" must be a masked black
// pixel, every other colour exactly the palette entry of its pixel.
void expect_same_image(const unsigned char* dib, const char* const* xpm, int bits_expected) {
    int width, height, colours, chars;
    ASSERT_EQ(std::sscanf(xpm[0], "%d %d %d %d", &width, &height, &colours, &chars), 4);
    ASSERT_EQ(chars, 1);
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof header);
    ASSERT_EQ(header.biWidth, width);
    ASSERT_EQ(header.biHeight, 2 * height);  // colour bits and mask
    ASSERT_EQ(header.biBitCount, bits_expected);
    const int palette_size = 1 << header.biBitCount;
    const unsigned char* palette = dib + header.biSize;
    const unsigned char* colour_bits = palette + 4 * palette_size;
    const int colour_stride = ((width * header.biBitCount + 31) / 32) * 4;
    const unsigned char* mask_bits = colour_bits + colour_stride * height;
    const int mask_stride = ((width + 31) / 32) * 4;

    std::vector<std::pair<char, std::string>> table;
    for (int i = 1; i <= colours; ++i) table.emplace_back(xpm[i][0], std::string(xpm[i] + 4));
    auto index_at = [&](int x, int y) {
        const unsigned char* row = colour_bits + (height - 1 - y) * colour_stride;
        const int bit = x * header.biBitCount;
        return (row[bit / 8] >> (8 - header.biBitCount - bit % 8)) & (palette_size - 1);
    };
    auto masked = [&](int x, int y) {
        return ((mask_bits + (height - 1 - y) * mask_stride)[x / 8] >> (7 - x % 8)) & 1;
    };
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::string colour;
            for (const auto& [key, value] : table) {
                if (key == xpm[1 + colours + y][x]) colour = value;
            }
            const int index = index_at(x, y);
            const Rgb shown{palette[4 * index + 2], palette[4 * index + 1], palette[4 * index]};
            Rgb wanted{0, 0, 0};
            const bool transparent = colour == "None";
            if (!transparent) {
                unsigned value = 0;
                std::sscanf(colour.c_str(), "#%x", &value);
                wanted = {static_cast<int>(value >> 16), static_cast<int>((value >> 8) & 0xFF),
                          static_cast<int>(value & 0xFF)};
            }
            if (masked(x, y) != (transparent ? 1 : 0) || !(shown == wanted)) ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0) << "pixels that differ from the artwork";
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colour_count, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
struct CursorGroupEntry {
    WORD width, height, planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// The entries of an icon or cursor group, after checking its header (type 1
// for icons, 2 for cursors).
template <typename Entry>
std::vector<Entry> group_entries(const char* name, int group_type, unsigned kind) {
    const Bytes group = resource(name, MAKEINTRESOURCEA(group_type));
    if (group.data == nullptr) {
        ADD_FAILURE() << name << " is missing";
        return {};
    }
    WORD header[3];
    std::memcpy(header, group.data, sizeof header);
    EXPECT_EQ(header[1], kind);
    std::vector<Entry> entries(header[2]);
    if (!entries.empty()) std::memcpy(entries.data(), group.data + sizeof header, entries.size() * sizeof(Entry));
    return entries;
}

}  // namespace

TEST(Resources, IconGroupHoldsTheFourImagesOfTheArtwork) {
    const auto entries = group_entries<GroupEntry>("VELMORAICON", 14, 1);  // RT_GROUP_ICON of icons
    ASSERT_EQ(entries.size(), 4u);
    const struct {
        int size, colours, bits;
        const char* const* xpm;
    } images[4] = {{32, 16, 4, icon_32x32_16c}, {16, 16, 4, icon_16x16_16c}, {16, 2, 1, icon_16x16_2c},
                   {32, 2, 1, icon_32x32_2c}};
    for (int i = 0; i < 4; ++i) {
        const GroupEntry& entry = entries[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.width, images[i].size);
        EXPECT_EQ(entry.height, images[i].size);
        EXPECT_EQ(entry.colour_count, images[i].colours);
        EXPECT_EQ(entry.bit_count, images[i].bits);
        const Bytes image = resource(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3));  // RT_ICON
        ASSERT_NE(image.data, nullptr);
        expect_same_image(image.data, images[i].xpm, images[i].bits);
    }
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), "VELMORAICON"), nullptr);
}

TEST(Resources, WaitCursorIsOneMonochromeImageWithTheHotSpotAtTheCorner) {
    const auto entries = group_entries<CursorGroupEntry>("WAITCURSOR", 12, 2);  // RT_GROUP_CURSOR of cursors
    ASSERT_EQ(entries.size(), 1u);
    const CursorGroupEntry& entry = entries[0];
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 64);  // colour bits and mask
    EXPECT_EQ(entry.bit_count, 1);
    const Bytes image = resource(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(1));  // RT_CURSOR
    ASSERT_NE(image.data, nullptr);
    WORD hot_spot[2];
    std::memcpy(hot_spot, image.data, sizeof hot_spot);
    EXPECT_EQ(hot_spot[0], 0);
    EXPECT_EQ(hot_spot[1], 0);
    expect_same_image(image.data + 4, wait_cursor, 1);
    EXPECT_NE(LoadCursorA(GetModuleHandleA(nullptr), "WAITCURSOR"), nullptr);
}

namespace {

// The program whose version and manifest are read back: pt.exe where the
// script names it (PT_EXE), otherwise this test program, which is linked with
// the same resources.
std::string program_path() {
    const char* named = std::getenv("PT_EXE");
    if (named != nullptr && named[0] != '\0') return named;
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, sizeof own);
    return own;
}

std::string version_value(const std::vector<char>& info, const char* name) {
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), key.c_str(), &value, &length) || value == nullptr) return "(missing)";
    return static_cast<const char*>(value);
}

}  // namespace

TEST(Resources, VersionResourceNamesTheProgramWithTheProjectVersion) {
    const std::string path = program_path();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_NE(size, 0u) << path << " has no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDul);
    const DWORD high = MAKELONG(PT_VERSION_MINOR, PT_VERSION_MAJOR);
    const DWORD low = MAKELONG(0, PT_VERSION_PATCH);
    EXPECT_EQ(fixed.dwFileVersionMS, high);
    EXPECT_EQ(fixed.dwFileVersionLS, low);
    EXPECT_EQ(fixed.dwProductVersionMS, high);
    EXPECT_EQ(fixed.dwProductVersionLS, low);
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));

    const std::string version = std::to_string(PT_VERSION_MAJOR) + "." + std::to_string(PT_VERSION_MINOR) + "." +
                                std::to_string(PT_VERSION_PATCH);
    EXPECT_EQ(version_value(info, "FileDescription"), "Processor Test");
    EXPECT_EQ(version_value(info, "FileVersion"), version);
    EXPECT_EQ(version_value(info, "ProductVersion"), version);
    EXPECT_EQ(version_value(info, "ProductName"), "Quillstone (TM) 99");
    EXPECT_EQ(version_value(info, "LegalCopyright"), notice_line);
    EXPECT_EQ(version_value(info, "OriginalFilename"), "pt.exe");
    EXPECT_EQ(version_value(info, "InternalName"), "pt");

    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    WORD language_and_code_page[2];
    std::memcpy(language_and_code_page, value, sizeof language_and_code_page);
    EXPECT_EQ(language_and_code_page[0], 0x0409);  // U.S. English
    EXPECT_EQ(language_and_code_page[1], 1200);    // Unicode
}

TEST(Resources, ManifestAsksForNoVirtualisationSystemDpiAndCommonControls6) {
    const std::string path = program_path();
    const HMODULE file = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(file, nullptr) << path;
    const Bytes bytes = resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), file);  // RT_MANIFEST
    const std::string manifest(reinterpret_cast<const char*>(bytes.data), bytes.size);
    FreeLibrary(file);
    ASSERT_FALSE(manifest.empty()) << path << " has no manifest as resource 1";

    const char* const wanted[] = {
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",  // Vista
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
    };
    for (const char* text : wanted) EXPECT_NE(manifest.find(text), std::string::npos) << text;

    // This test program runs with the same manifest, so the system takes
    // its buttons from the common controls, which it links nowhere else.
    const HWND button = CreateWindowA("Button", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(button, nullptr);
    EXPECT_NE(GetModuleHandleA("comctl32.dll"), nullptr) << "the buttons do not come from the common controls";
    DestroyWindow(button);
}
