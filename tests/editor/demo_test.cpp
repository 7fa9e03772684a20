#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/editor/editor_window.h"

using namespace pellix;

namespace {

constexpr int demo_width = 900;
constexpr int demo_height = 560;

std::wstring read_utf8_file(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::wstring text(bytes.size(), L'\0');
    text.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                            static_cast<int>(text.size()))));
    return text;
}

bool file_exists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Not part of the suite: scripts/editor_screenshot.sh runs it to photograph an editor holding a
// file. It shows PELLIX_DEMO_FILE, writes PELLIX_DEMO_READY once painted and waits (at most a
// minute) for PELLIX_DEMO_DONE to appear.
TEST(EditorDemo, DISABLED_ShowsAFileUntilPhotographed) {
    const char* file = std::getenv("PELLIX_DEMO_FILE");
    const char* ready = std::getenv("PELLIX_DEMO_READY");
    const char* done = std::getenv("PELLIX_DEMO_DONE");
    ASSERT_TRUE(file && ready && done);
    test::EditorWindow window(demo_width, demo_height, test::Placement::top_level);
    if (std::getenv("PELLIX_DEMO_DARK")) {
        window.record().dark = true;
        clear_line_layouts(window.record());
    }
    window.set_text(read_utf8_file(file));
    window.select(40, 53);
    SetFocus(window.editor);
    ASSERT_TRUE(window.paint_fully());
    std::ofstream(ready) << "ready\n";
    EXPECT_TRUE(test::pump_until([&] { return file_exists(done); }, std::chrono::seconds(60)));
}

} // namespace
