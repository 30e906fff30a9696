// Reading the help file hhc compiles from the generated 2,000-page site
// (about 41 MB of Windows-1251 Russian prose): the LZX decoder alone over
// the whole compressed stream, and the reader giving every compressed entry
// in content order, as hh reads them. Speeds are in bytes of output.

#include "chm/format.h"
#include "chm/lzx_decoder.h"
#include "chm/reader.h"
#include "compiled_site.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <stdexcept>
#include <vector>

namespace {

using namespace tbx::chm;

const tbx::bench::CompiledSite& TheHelpFile() {
    static const tbx::bench::CompiledSite help(2000);
    return help;
}

std::unique_ptr<ChmFile> OpenHelp() {
    std::string error;
    std::unique_ptr<ChmFile> file = ChmFile::Open(TheHelpFile().Chm(), error);
    if (!file)
        throw std::runtime_error(error);
    return file;
}

std::vector<std::uint8_t> ReadStream(ChmFile& file, ChmCursor& cursor, std::string_view name) {
    const ChmEntry entry = file.Entry(*file.Find(name));
    std::vector<std::uint8_t> bytes(entry.length);
    if (!cursor.Read(entry, 0, bytes).empty())
        throw std::runtime_error("cannot read " + std::string(name));
    return bytes;
}

// The stream cut at its reset points, decoded interval by interval as the
// reader does, without the reader around it.
void BM_DecodeStream(benchmark::State& state) {
    const std::unique_ptr<ChmFile> file = OpenHelp();
    ChmCursor cursor(*file);
    const std::vector<std::uint8_t> content = ReadStream(*file, cursor, kContent);
    const std::vector<std::uint8_t> table = ReadStream(*file, cursor, kResetTable);
    const std::vector<std::uint8_t> control = ReadStream(*file, cursor, kControlData);
    const std::uint64_t frames = (GetLe64(table.data() + 0x10) + kLzxFrameSize - 1) / kLzxFrameSize;
    const std::uint64_t resetFrames = GetLe32(control.data() + 0x0C);
    unsigned windowBits = 15;
    while ((1u << windowBits) < GetLe32(control.data() + 0x10) * kLzxFrameSize)
        ++windowBits;
    LzxDecoder decoder(windowBits);
    const auto start = [&](std::uint64_t frame) {
        return frame < frames ? GetLe64(table.data() + 0x28 + 8 * frame) : content.size();
    };
    for (auto _ : state) {
        for (std::uint64_t first = 0; first < frames; first += resetFrames) {
            const std::uint64_t last = std::min(frames, first + resetFrames);
            BitReader in{std::span(content).subspan(start(first), start(last) - start(first))};
            decoder.Reset();
            for (std::uint64_t frame = first; frame < last; ++frame) {
                const LzxDecoder::Result result = decoder.DecodeFrame(in);
                if (result.error) {
                    state.SkipWithError(result.error);
                    return;
                }
                benchmark::DoNotOptimize(result.frame.data());
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * frames * kLzxFrameSize));
}

// Every compressed entry, opened once, read in content order in pieces of
// 1 MiB as hh reads them.
void BM_ReadEntries(benchmark::State& state) {
    std::uint64_t bytes = 0;
    std::vector<std::uint8_t> buffer(1 << 20);
    for (auto _ : state) {
        const std::unique_ptr<ChmFile> file = OpenHelp();
        std::vector<ChmEntry> entries;
        for (std::size_t i = 0; i < file->Count(); ++i)
            if (file->Entry(i).section == 1)
                entries.push_back(file->Entry(i));
        std::sort(entries.begin(), entries.end(),
                  [](const ChmEntry& a, const ChmEntry& b) { return a.offset < b.offset; });
        ChmCursor cursor(*file);
        for (const ChmEntry& entry : entries) {
            for (std::uint64_t done = 0; done < entry.length;) {
                const std::size_t piece =
                    std::min<std::uint64_t>(entry.length - done, buffer.size());
                if (!cursor.Read(entry, done, {buffer.data(), piece}).empty()) {
                    state.SkipWithError("read failed");
                    return;
                }
                done += piece;
                bytes += piece;
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

} // namespace

BENCHMARK(BM_DecodeStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadEntries)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
