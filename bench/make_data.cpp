// Writes deterministic benchmark input: the same arguments give the same bytes.
//   make_data text SIZE SEED FILE    words and lines; level 9 leaves about 40 %
//   make_data noise SIZE SEED FILE   incompressible bytes
//   make_data repeat SIZE SEED FILE  text repeating every 20,000 bytes: packs fast
//   make_data tree DIR WINDIR FOLDERS FILES
//       an installed product: FOLDERS folders of FILES small files below DIR, and the
//       install journal setup would have written for them, DIR being WINDIR on Windows
// SIZE may end in K, M or G (powers of 1024).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// xorshift64*: fast, and the same on every platform.
struct TRandom {
    uint64_t State;
    explicit TRandom(uint64_t Seed) : State(Seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        State ^= State >> 12;
        State ^= State << 25;
        State ^= State >> 27;
        return State * 0x2545F4914F6CDD1Dull;
    }
};

bool ParseSize(const char* Text, uint64_t& Size) {
    char* end = nullptr;
    Size = std::strtoull(Text, &end, 10);
    if (end == Text) return false;
    if (*end == 'K')
        Size <<= 10, ++end;
    else if (*end == 'M')
        Size <<= 20, ++end;
    else if (*end == 'G')
        Size <<= 30, ++end;
    return *end == '\0';
}

// A vocabulary of made-up words; frequent words are short, as in prose.
std::vector<std::string> Vocabulary(TRandom& Random) {
    static const char letters[] = "etaoinshrdlcumwfgypbvkjxqz";
    std::vector<std::string> words(4096);
    for (size_t i = 0; i < words.size(); ++i) {
        size_t length = 2 + i % 5 + (i >= 256 ? Random.Next() % 6 : 0);
        for (size_t k = 0; k < length; ++k) {
            uint64_t r = Random.Next() % 676;
            words[i] += letters[static_cast<size_t>(r < 400 ? r % 8 : r < 600 ? r % 16 : r % 26)];
        }
    }
    return words;
}

// Fills Block with text but for its last 64 bytes at most; returns how many bytes it wrote.
size_t FillText(std::vector<char>& Block, const std::vector<std::string>& Words, TRandom& Random, size_t& Column) {
    size_t n = 0;
    while (n < Block.size() - 64) {
        // Roughly Zipf: small indexes far more often than large ones.
        uint64_t r = Random.Next();
        size_t index = static_cast<size_t>((r & 0xFFF) * ((r >> 12) & 0xFFF) >> 12);
        const std::string& w = Words[index];
        std::memcpy(Block.data() + n, w.data(), w.size());
        n += w.size();
        Column += w.size() + 1;
        if (Column > 72) {
            Block[n++] = '\r';
            Block[n++] = '\n';
            Column = 0;
        } else {
            Block[n++] = (r >> 24) % 11 == 0 ? ',' : ' ';
        }
    }
    return n;
}

bool WriteFile(const std::string& Name, const char* Data, size_t Size) {
    std::FILE* out = std::fopen(Name.c_str(), "wb");
    bool ok = out && std::fwrite(Data, 1, Size, out) == Size;
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok) std::perror(Name.c_str());
    return ok;
}

int MakeTree(const std::string& Dir, std::string WinDir, int Folders, int Files) {
    if (WinDir.empty() || WinDir.back() != '\\') WinDir += '\\';
    std::filesystem::create_directories(Dir);
    std::string journal = "########## Setup started at 01.01.2024 12:00:00 ##########\r\n";
    journal += "CreateFolder " + WinDir + "\r\n";
    TRandom random(1);
    std::vector<char> content(4096);
    for (char& c : content) c = static_cast<char>('a' + random.Next() % 26);
    for (int f = 0; f < Folders; ++f) {
        char folder[32];
        std::snprintf(folder, sizeof(folder), "folder%03d", f);
        std::filesystem::create_directory(Dir + "/" + folder);
        journal += "CreateFolder " + WinDir + folder + "\\\r\n";
        for (int i = 0; i < Files; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "file%04d.dat", i);
            size_t size = 100 + random.Next() % 4000;
            if (!WriteFile(Dir + "/" + folder + "/" + name, content.data(), size)) return 1;
            journal += "CreateFile " + WinDir + folder + "\\" + name + "\r\n";
        }
    }
    return WriteFile(Dir + "/install.log", journal.data(), journal.size()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "tree" && argc == 6) return MakeTree(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    uint64_t size = 0;
    if (argc != 5 || (mode != "text" && mode != "noise" && mode != "repeat") || !ParseSize(argv[2], size)) {
        std::fprintf(stderr,
                     "usage: make_data text|noise|repeat SIZE SEED FILE\n"
                     "       make_data tree DIR WINDIR FOLDERS FILES\n");
        return 2;
    }
    TRandom random(std::strtoull(argv[3], nullptr, 10));
    std::FILE* out = std::fopen(argv[4], "wb");
    if (!out) {
        std::perror(argv[4]);
        return 1;
    }
    std::vector<std::string> words = mode != "noise" ? Vocabulary(random) : std::vector<std::string>();
    const size_t period = 20000;
    std::vector<char> block(mode == "repeat" ? 50 * period : 1 << 20);
    size_t column = 0;
    if (mode == "repeat") {
        std::vector<char> piece(period + 64);
        FillText(piece, words, random, column);
        for (size_t n = 0; n < block.size(); n += period) std::memcpy(block.data() + n, piece.data(), period);
    }
    uint64_t written = 0;
    while (written < size) {
        size_t n = block.size();
        if (mode == "text") {
            n = FillText(block, words, random, column);
        } else if (mode == "noise") {
            for (size_t i = 0; i + 8 <= n; i += 8) {
                uint64_t r = random.Next();
                std::memcpy(block.data() + i, &r, 8);
            }
        }
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, size - written));
        if (std::fwrite(block.data(), 1, chunk, out) != chunk) {
            std::perror(argv[4]);
            return 1;
        }
        written += chunk;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
