// Listing a folder of 10,000 pages in the index window: the core listing
// (directory read, sort, one title per page) and the whole "Обзор ..." fill
// of the window's list with titles and icons. Runs offscreen unless told
// otherwise; the pages sit in the page cache after the first run.

#include "controls/dialog_builder.h"
#include "controls/dialogs.h"
#include "index/index_dlg.h"
#include "index/page_list.h"
#include "res/layouts.h"
#include "text/charset.h"

#include <QApplication>
#include <QTreeWidget>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 10000;

// A folder of pages like a saved site: titles in UTF-8 and in Windows-1251,
// a body of a few kilobytes, and some files that are not pages.
class PageFolder {
public:
    PageFolder() {
        std::string pattern = (fs::temp_directory_path() / "tomebox-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
        const std::string body(3000, 'x');
        const std::string legacyTitle = *tbx::EncodeCp1251Exact("Старая страница");
        for (int i = 0; i < kPages; ++i) {
            const std::string name = "page" + std::to_string(i) + (i % 3 == 0 ? ".html" : ".htm");
            std::ofstream page(path_ / name, std::ios::binary);
            page << "<html><head><meta charset=\"utf-8\"><title>"
                 << (i % 2 ? "Глава " + std::to_string(i) : legacyTitle) << "</title></head><body>"
                 << body << "</body></html>";
            if (i % 10 == 0)
                std::ofstream(path_ / ("asset" + std::to_string(i) + ".png")) << "png";
        }
    }
    ~PageFolder() { fs::remove_all(path_); }
    std::string Folder() const { return path_.string() + "/"; }

private:
    fs::path path_;
};

const PageFolder& Pages() {
    static const PageFolder pages;
    return pages;
}

void BM_ListPages(benchmark::State& state) {
    const std::string folder = Pages().Folder();
    for (auto _ : state) {
        auto pages = tbx::ListPages(folder);
        if (pages.size() != static_cast<std::size_t>(kPages))
            state.SkipWithError("wrong page count");
        benchmark::DoNotOptimize(pages);
    }
}
BENCHMARK(BM_ListPages)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_FillPageList(benchmark::State& state) {
    const std::string folder = Pages().Folder();
    tbx::QtDialogs dialogs; // never asked: the list is filled directly
    const fs::path store = fs::temp_directory_path() / "tomebox-bench-store";
    for (auto _ : state) {
        state.PauseTiming();
        auto dialog = std::make_unique<tbx::CIndexDlg>(tbx::RegHive(store), dialogs, "/");
        state.ResumeTiming();
        dialog->FillPageList(folder);
        QApplication::processEvents();
        state.PauseTiming();
        if (tbx::FindControl<QTreeWidget>(*dialog, tbx::kIdIndexPages)->topLevelItemCount() !=
            kPages)
            state.SkipWithError("wrong row count");
        dialog.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FillPageList)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Pages();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
