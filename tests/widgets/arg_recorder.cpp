// Stands in for the demux tool in the end-to-end tests: records the current
// directory and the arguments it was started with, so that a test can compare
// them byte for byte with what the window should have passed.
//
// The record goes to a new file in the folder named by TCDEMUX_RECORD_DIR, one
// file per run: the current directory, then each argument, each followed by
// one NUL byte (no argument can contain NUL, so the split is exact), and last
// "TCDEMUX_NOTIFY=" with that variable's value (or "-" when it is unset) and
// a NUL byte, since the window asks for desktop reports through it. It is
// written under a temporary name and then renamed, so a reader never sees a
// partial record.
//
// TCDEMUX_RECORD_GATE, when set, names a file the recorder waits for before
// it writes its record: it first leaves "<unique>.started" in the folder,
// then waits until the gate file exists. A test that opens the gate only
// after the start came back sees whether the starter waited for this
// program. The wait has a bound: after 20 s the recorder leaves
// "<unique>.gave-up" instead of a record and ends.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

int main(int argc, char* argv[]) {
    const char* folder = std::getenv("TCDEMUX_RECORD_DIR");
    if (folder == nullptr || *folder == '\0') return 2;

    std::error_code error;
    const std::filesystem::path currentDirectory = std::filesystem::current_path(error);
    if (error) return 3;

    // Unique even for two runs started in the same instant.
    std::random_device random;
    const std::string unique =
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
        std::to_string(random()) + "-" + std::to_string(random());
    const auto marker = [&](const char* ending) {
        std::ofstream(std::filesystem::path(folder) / (unique + ending)).flush();
    };

    if (const char* gate = std::getenv("TCDEMUX_RECORD_GATE"); gate != nullptr && *gate != '\0') {
        marker(".started");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(gate, error)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                marker(".gave-up");
                return 6;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    const std::filesystem::path partial = std::filesystem::path(folder) / (unique + ".part");
    const std::filesystem::path record = std::filesystem::path(folder) / (unique + ".rec");
    {
        std::ofstream out(partial, std::ios::binary);
        out << currentDirectory.string();
        out.put('\0');
        for (int i = 1; i < argc; ++i) {
            out << argv[i];
            out.put('\0');
        }
        const char* notify = std::getenv("TCDEMUX_NOTIFY");
        out << "TCDEMUX_NOTIFY=" << (notify != nullptr ? notify : "-");
        out.put('\0');
        out.flush();
        if (!out) return 4;
    }
    std::filesystem::rename(partial, record, error);
    return error ? 5 : 0;
}
