// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/converter.h"

#include "engine/capabilities.h"
#include "engine/colour_reducer.h"
#include "engine/exit_status.h"
#include "engine/output_file.h"
#include "engine/page_watchdog.h"
#include "render/document.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>

namespace rastool {

namespace {

// Class F fax pages are always this wide, at 204 dpi across and 98 or 196 down.
constexpr int kFaxWidth = 1728;
constexpr double kFaxXDpi = 204;

// Rows per band: a few hundred, fewer for very wide pages so a band stays a few megabytes.
constexpr std::ptrdiff_t kBandBytes = 8 << 20;
constexpr int kMaxBandRows = 512;
constexpr int kMinBandRows = 16;

// Pages beyond this many pixels are refused before any work: memory stays bounded by the bands,
// but such a page would take hours and more than the 4 GiB that BMP, TIFF and most other types
// can hold in one file (2^31 pixels is 6 GiB of true colour; A1 at 1200 dpi still fits).
constexpr long long kMaxPagePixels = 1LL << 31;

// How one page is rendered and placed on the written page.
struct PagePlan {
    int index = 0;      // 0-based page of the document
    double renderX = 0; // resolution given to the renderer
    double renderY = 0;
    int renderWidth = 0; // the rendered raster
    int height = 0;
    int left = 0; // white margin left of the raster (fax pages narrower than 1728)
    PageFormat format;
};

[[noreturn]] void FailFromRender(const render::RenderError &e)
{
    switch (e.kind()) {
    case render::RenderError::Kind::Password:
        throw Failure(ExitStatus::PasswordProtected, e.what());
    case render::RenderError::Kind::MemoryLimit:
        throw Failure(ExitStatus::MemoryLimit, e.what());
    default:
        throw Failure(ExitStatus::InputUnreadable, e.what());
    }
}

// The watchdog's clock for one step, stopped however the step ends.
class Timed {
public:
    Timed(PageWatchdog &watchdog, int pageNumber) : watchdog_(watchdog), pageNumber_(pageNumber)
    {
        watchdog_.Started(pageNumber_);
    }
    ~Timed() { watchdog_.Done(pageNumber_); }
    Timed(const Timed &) = delete;
    Timed &operator=(const Timed &) = delete;

private:
    PageWatchdog &watchdog_;
    const int pageNumber_;
};

std::unique_ptr<render::Document> OpenDocument(const std::string &path)
{
    try {
        return std::make_unique<render::Document>(path);
    } catch (const render::RenderError &e) {
        FailFromRender(e);
    }
}

PagePlan PlanPage(render::Document &doc, int index, const Options &o, bool classF)
{
    PagePlan plan;
    plan.index = index;
    plan.renderX = o.xDpi;
    plan.renderY = o.yDpi;
    double fileX = o.xDpi, fileY = o.yDpi;
    try {
        if (classF) {
            fileX = kFaxXDpi;
            fileY = std::abs(o.yDpi - 98) <= std::abs(o.yDpi - 196) ? 98 : 196;
            plan.renderX = fileX;
            plan.renderY = fileY;
            // A page wider than the fax line is scaled down to fit it, keeping its proportions.
            auto size = doc.PagePixelSize(index, plan.renderX, plan.renderY);
            for (double scale = 1; size.width > kFaxWidth;) {
                scale *= (kFaxWidth - 0.5) / size.width;
                plan.renderX = fileX * scale;
                plan.renderY = fileY * scale;
                size = doc.PagePixelSize(index, plan.renderX, plan.renderY);
            }
        }
        const auto size = doc.PagePixelSize(index, plan.renderX, plan.renderY);
        plan.renderWidth = size.width;
        plan.height = size.height;
    } catch (const render::RenderError &e) {
        FailFromRender(e);
    }
    if (plan.renderWidth <= 0 || plan.height <= 0) {
        throw Failure(ExitStatus::InputUnreadable,
                      "page " + std::to_string(index + 1) + " has no area to render");
    }
    if (static_cast<long long>(plan.renderWidth) * plan.height > kMaxPagePixels) {
        throw Failure(ExitStatus::InputUnreadable,
                      "page " + std::to_string(index + 1) + " is too large at this resolution (" +
                          std::to_string(plan.renderWidth) + " x " + std::to_string(plan.height) +
                          " pixels); choose a lower resolution");
    }
    const int width = classF ? kFaxWidth : plan.renderWidth;
    plan.left = (width - plan.renderWidth) / 2;
    plan.format.width = width;
    plan.format.height = plan.height;
    plan.format.xDpi = fileX;
    plan.format.yDpi = fileY;
    return plan;
}

int BandRows(const PagePlan &plan)
{
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(plan.format.width) * 3;
    const auto rows = static_cast<int>(std::clamp<std::ptrdiff_t>(
        kBandBytes / std::max<std::ptrdiff_t>(rowBytes, 1), kMinBandRows, kMaxBandRows));
    return std::min(rows, plan.height);
}

// Renders rows [y0, y0 + rows) of the page into a band of the written page's width; the
// margins of a fax page stay white. The caller's buffer is reused from band to band, so a run
// of many pages does not map and fault in fresh memory for every band.
void RenderBand(render::Document &doc, const PagePlan &plan, int y0, int rows,
                render::PixelFormat format, std::vector<uint8_t> &band)
{
    const int n = format == render::PixelFormat::Rgb ? 3 : 1;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(plan.format.width) * n;
    const size_t size = static_cast<size_t>(stride) * static_cast<size_t>(rows);
    if (plan.renderWidth < plan.format.width) {
        band.assign(size, 255);
    } else {
        band.resize(size);
    }
    try {
        doc.RenderBand(plan.index, plan.renderX, plan.renderY, y0, rows, format,
                       band.data() + static_cast<std::ptrdiff_t>(plan.left) * n, stride);
    } catch (const render::RenderError &e) {
        FailFromRender(e);
    }
}

// Pixels of the small rendering a page's palette is chosen from, when the page has more
// colours than the palette holds: enough that libimagequant sees every colour that covers a
// noticeable area, few enough that choosing takes a few milliseconds.
constexpr double kSamplePixels = 1 << 18;

// The whole page, rendered small; margins of fax pages play no part in a palette.
PageSample SamplePage(render::Document &doc, const PagePlan &plan)
{
    const double pixels = static_cast<double>(plan.renderWidth) * plan.height;
    const double scale = std::min(1.0, std::sqrt(kSamplePixels / pixels));
    const double x = plan.renderX * scale, y = plan.renderY * scale;
    PageSample sample;
    try {
        const auto size = doc.PagePixelSize(plan.index, x, y);
        sample.width = std::max(size.width, 1);
        sample.height = std::max(size.height, 1);
        sample.rgb.assign(static_cast<size_t>(sample.width) * sample.height * 3, 255);
        doc.RenderBand(plan.index, x, y, 0, std::min(size.height, sample.height),
                       render::PixelFormat::Rgb, sample.rgb.data(), sample.width * 3);
    } catch (const render::RenderError &e) {
        FailFromRender(e);
    }
    return sample;
}

struct Job {
    const Options &options;
    const TypeCapability &type;
    Depth depth;
    bool faxThreshold;
    WriterOptions writerOptions;
    int documentPages; // numbers the page files
    std::vector<PagePlan> pages;
    PageWatchdog *watchdog;
};

// Keeps the first failure of any thread and tells the others to stop.
class FirstError {
public:
    void Set(std::exception_ptr error)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!error_) {
            error_ = error;
        }
        failed_ = true;
    }
    bool Failed() const { return failed_; }
    void Rethrow()
    {
        if (error_) {
            std::rethrow_exception(error_);
        }
    }

private:
    std::mutex mutex_;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
};

// Inside a catch block: the exception in flight, a writer's failure turned into the output
// status with the file's name.
std::exception_ptr NamingTheFile(const std::string &path)
{
    try {
        throw;
    } catch (const WriteError &e) {
        return std::make_exception_ptr(
            Failure(ExitStatus::OutputUnwritable, "cannot write " + path + ": " + e.what()));
    } catch (...) {
        return std::current_exception();
    }
}

std::vector<std::unique_ptr<render::Document>> OpenWorkers(std::unique_ptr<render::Document> first,
                                                           const std::string &path, unsigned count,
                                                           PageWatchdog &watchdog)
{
    std::vector<std::unique_ptr<render::Document>> docs;
    docs.push_back(std::move(first));
    while (docs.size() < count) {
        const Timed opening(watchdog, PageWatchdog::kOpening);
        docs.push_back(OpenDocument(path));
    }
    return docs;
}

void RunThreads(std::vector<std::unique_ptr<render::Document>> &docs,
                const std::function<void(render::Document &)> &work)
{
    std::vector<std::thread> threads;
    for (size_t i = 1; i < docs.size(); ++i) {
        threads.emplace_back(work, std::ref(*docs[i]));
    }
    work(*docs[0]);
    for (auto &t : threads) {
        t.join();
    }
}

// Several pages, one file each: every worker renders whole pages into its own files; the
// files are renamed into place in page order, so a failure leaves only complete leading pages.
void WriteFilePerPage(const Job &job, std::vector<std::unique_ptr<render::Document>> &docs)
{
    std::atomic<size_t> next{0};
    size_t nextCommit = 0;
    std::mutex mutex;
    std::condition_variable turn;
    FirstError error;

    RunThreads(docs, [&](render::Document &doc) {
        std::vector<uint8_t> band;
        for (size_t i = next++; i < job.pages.size() && !error.Failed(); i = next++) {
            const PagePlan &plan = job.pages[i];
            job.watchdog->Started(plan.index + 1);
            const std::string path =
                PageFileName(job.options.output, plan.index + 1, job.documentPages);
            try {
                OutputFile file(path);
                auto writer = job.type.factory(file.Stream(), job.writerOptions);
                PageReducer reducer(job.depth, job.faxThreshold, plan.format, *writer,
                                    [&doc, &plan] { return SamplePage(doc, plan); });
                const int bandRows = BandRows(plan);
                for (int y0 = 0; y0 < plan.height; y0 += bandRows) {
                    const int rows = std::min(bandRows, plan.height - y0);
                    RenderBand(doc, plan, y0, rows, reducer.InputFormat(), band);
                    reducer.Take(band.data(), rows,
                                 static_cast<std::ptrdiff_t>(band.size() / rows));
                }
                reducer.Finish();
                writer->Finish();
                job.watchdog->Done(plan.index + 1);
                std::unique_lock<std::mutex> lock(mutex);
                turn.wait(lock, [&] { return nextCommit == i || error.Failed(); });
                if (error.Failed()) {
                    return;
                }
                file.Commit();
                ++nextCommit;
                turn.notify_all();
            } catch (...) {
                error.Set(NamingTheFile(path));
                std::lock_guard<std::mutex> lock(mutex);
                turn.notify_all();
                return;
            }
        }
    });
    error.Rethrow();
}

// All pages into one file: the bands of all pages are rendered by all workers, at most a
// window of them ahead of the writer, and handed to the writer strictly in order.
void WriteOneFile(const Job &job, std::vector<std::unique_ptr<render::Document>> &docs,
                  const std::string &path)
{
    struct Band {
        size_t page;
        int y0, rows;
    };
    std::vector<Band> bands;
    for (size_t p = 0; p < job.pages.size(); ++p) {
        const int rowsPerBand = BandRows(job.pages[p]);
        for (int y0 = 0; y0 < job.pages[p].height; y0 += rowsPerBand) {
            bands.push_back({p, y0, std::min(rowsPerBand, job.pages[p].height - y0)});
        }
    }
    OutputFile file(path);
    auto writer = job.type.factory(file.Stream(), job.writerOptions);
    std::unique_ptr<PageReducer> reducer;
    const render::PixelFormat pixelFormat = PageReducer::InputFormatFor(job.depth);

    const size_t window = 2 * docs.size();
    size_t next = 0, written = 0;
    bool draining = false;
    std::map<size_t, std::vector<uint8_t>> ready;
    std::mutex mutex;
    std::condition_variable progress;
    FirstError error;

    // Called by whichever worker holds the drain, without the lock.
    // The worker delivering: a page's sample, if needed at all, is rendered by the worker that
    // delivers the band needing it, with that worker's own document.
    render::Document *deliverer = nullptr;
    auto deliver = [&](size_t i, const std::vector<uint8_t> &pixels, render::Document &doc) {
        const Band &band = bands[i];
        const PagePlan &plan = job.pages[band.page];
        deliverer = &doc;
        if (band.y0 == 0) {
            reducer = std::make_unique<PageReducer>(
                job.depth, job.faxThreshold, plan.format, *writer,
                [&deliverer, &plan] { return SamplePage(*deliverer, plan); });
        }
        reducer->Take(pixels.data(), band.rows,
                      static_cast<std::ptrdiff_t>(pixels.size() / band.rows));
        if (band.y0 + band.rows == plan.height) {
            reducer->Finish();
            reducer.reset();
            job.watchdog->Done(plan.index + 1);
        }
    };

    RunThreads(docs, [&](render::Document &doc) {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            progress.wait(lock, [&] {
                return error.Failed() || next >= bands.size() || next < written + window;
            });
            if (error.Failed() || next >= bands.size()) {
                return;
            }
            const size_t mine = next++;
            lock.unlock();
            try {
                const Band &band = bands[mine];
                job.watchdog->Started(job.pages[band.page].index + 1);
                std::vector<uint8_t> pixels;
                RenderBand(doc, job.pages[band.page], band.y0, band.rows, pixelFormat, pixels);
                lock.lock();
                ready.emplace(mine, std::move(pixels));
            } catch (...) {
                error.Set(std::current_exception());
                lock.lock();
                progress.notify_all();
                return;
            }
            if (draining) {
                continue;
            }
            draining = true;
            for (auto it = ready.find(written); it != ready.end() && !error.Failed();
                 it = ready.find(written)) {
                const auto pixels = std::move(it->second);
                ready.erase(it);
                lock.unlock();
                try {
                    deliver(written, pixels, doc);
                } catch (...) {
                    error.Set(NamingTheFile(path));
                }
                lock.lock();
                ++written;
                progress.notify_all();
            }
            draining = false;
        }
    });
    error.Rethrow();
    try {
        writer->Finish();
    } catch (...) {
        std::rethrow_exception(NamingTheFile(path));
    }
    file.Commit();
}

// Writing over the input would destroy the document while it is being read (a PDF named .tif,
// or an output name that is a hard link to it).
void RefuseToReplaceTheInput(const std::string &input, const std::vector<std::string> &outputs)
{
    struct stat in {};
    if (::stat(input.c_str(), &in) != 0) {
        return;
    }
    for (const std::string &output : outputs) {
        struct stat out {};
        if (::stat(output.c_str(), &out) == 0 && out.st_dev == in.st_dev &&
            out.st_ino == in.st_ino) {
            throw Failure(ExitStatus::OutputUnwritable,
                          "cannot write " + output +
                              ": it is the input document itself; choose another name");
        }
    }
}

void CheckWritable(const std::string &path)
{
    OutputFile probe(path);
}

// One warning line for a document that the library had to mend, so that a user knows its pages
// may be incomplete though the run succeeded.
void WarnOfRepairs(const std::string &input,
                   const std::vector<std::unique_ptr<render::Document>> &docs,
                   const WarningSink &warn)
{
    std::vector<std::string> problems;
    for (const auto &doc : docs) {
        for (const std::string &problem : doc->Problems()) {
            if (std::find(problems.begin(), problems.end(), problem) == problems.end()) {
                problems.push_back(problem);
            }
        }
    }
    if (problems.empty()) {
        return;
    }
    std::string text = input + ": " + problems.front();
    if (problems.size() > 1) {
        text += " (and " + std::to_string(problems.size() - 1) + " more)";
    }
    warn(text + "; the pages may be incomplete");
}

} // namespace

void Convert(const Options &options, const WarningSink &warn, unsigned workers)
{
    const TypeCapability *type = FindTypeForPath(options.output);
    if (type == nullptr) {
        throw Failure(ExitStatus::BadOptions, "cannot tell the image type from " + options.output);
    }
    const bool isTiff = type->factory == MakeTiffWriter;
    const TiffCompression compression = isTiff ? options.compression : TiffCompression::PackBits;
    const bool classF = compression == TiffCompression::ClassF;
    if (!isTiff && options.multiPage) {
        warn("-m has no effect: only TIFF files hold several pages");
    }
    if (!isTiff && options.compressionGiven) {
        warn("-c has no effect: the compression applies only to TIFF files");
    }

    const std::string &input = options.input;
    // A runaway page cannot be interrupted inside the PDF library: the watchdog removes the
    // temporary files and ends the process itself, with a status of its own. Its clock runs
    // while the document is opened (a repair reads the whole file), while each page is loaded
    // to plan the run and while each page is drawn: a crafted document can stall any of them.
    const int limit = options.pageTimeLimit;
    const std::string limitText = " took longer than the limit of " + std::to_string(limit) +
                                  (limit == 1 ? " second" : " seconds") + " and was stopped\n";
    PageWatchdog watchdog(std::chrono::seconds(limit), [&input, &limitText](int page) {
        OutputFile::RemoveTemporaryFiles();
        const std::string step = page == PageWatchdog::kOpening
                                     ? std::string("opening the document")
                                     : "page " + std::to_string(page);
        const std::string line = "rastool: " + Printable(input) + ": " + step + limitText;
        std::fputs(line.c_str(), stderr);
        std::_Exit(static_cast<int>(ExitStatus::PageTimeLimit));
    });
    std::unique_ptr<render::Document> doc;
    {
        const Timed opening(watchdog, PageWatchdog::kOpening);
        doc = OpenDocument(input);
    }
    const int count = doc->PageCount();
    const int first = options.firstPage.value_or(1);
    const int last = std::min(options.lastPage.value_or(count), count);
    const std::string pagesText =
        "the document has " + std::to_string(count) + (count == 1 ? " page" : " pages");
    if (first > count) {
        throw Failure(ExitStatus::PageRange,
                      input + ": page " + std::to_string(first) + " is past the end: " + pagesText);
    }
    if (first > last) {
        throw Failure(ExitStatus::PageRange, input + ": the first page, " + std::to_string(first) +
                                                 ", comes after the last page, " +
                                                 std::to_string(last));
    }

    const DepthChoice choice =
        ChooseDepth(HeldDepths(*type, compression), options.bits, options.grey);
    if (choice.substituted) {
        const Depth asked = ChooseDepth(AllDepths(), options.bits, options.grey).depth;
        warn(type->name + (isTiff ? " with this compression" : std::string()) + " cannot hold " +
             DepthName(asked) + " per pixel; writing " + DepthName(choice.depth) + " instead");
    } else if (options.grey && choice.depth != Depth::Grey8) {
        warn("-g has no effect: grey levels are written only at 8 bits, and this output has " +
             DepthName(choice.depth) + " per pixel");
    }

    const bool fax = isTiff && IsFaxCompression(compression);
    Job job{options, *type, choice.depth, fax, {}, count, {}, &watchdog};
    job.writerOptions.jpegQuality = options.jpegQuality;
    job.writerOptions.compression = compression;
    const bool oneFile = first == last || (type->multiPage && (options.multiPage || classF));
    // A page tree may claim more pages than it holds: a file per page is written for every page
    // up to the first that cannot be loaded, and that page ends the run. One file of all pages
    // stays all or nothing.
    std::optional<Failure> unloadable;
    for (int page = first; page <= last; ++page) {
        try {
            const Timed loading(watchdog, page);
            job.pages.push_back(PlanPage(*doc, page - 1, options, classF));
        } catch (const Failure &e) {
            if (oneFile || job.pages.empty() || e.status() != ExitStatus::InputUnreadable) {
                throw;
            }
            unloadable.emplace(ExitStatus::InputUnreadable,
                               std::string(e.what()) + "; the pages before it were written");
            break;
        }
    }
    // The pages this one file holds: a file per page is a single-page file.
    job.writerOptions.pageCount = oneFile ? static_cast<int>(job.pages.size()) : 1;
    if (workers == 0) {
        workers = std::max(1u, std::thread::hardware_concurrency());
    }
    if (!oneFile) {
        workers = std::min<unsigned>(workers, static_cast<unsigned>(job.pages.size()));
    }
    std::vector<std::string> outputs;
    if (oneFile) {
        outputs.push_back(options.output);
    } else {
        for (const PagePlan &plan : job.pages) {
            outputs.push_back(PageFileName(options.output, plan.index + 1, count));
        }
    }
    RefuseToReplaceTheInput(input, outputs);
    // A folder that cannot take files fails here, once and naming the first file, rather than
    // in whichever worker happens to create its file first.
    OutputFile::RemoveStaleTemporaries(FolderOf(options.output));
    CheckWritable(outputs.front());
    auto docs = OpenWorkers(std::move(doc), input, workers, watchdog);
    if (fax) {
        // Fax pages are black and white: drawn without anti-aliasing, with no stroke thinner
        // than a pixel, a thin rule stays a line instead of a grey that the threshold drops.
        for (auto &d : docs) {
            d->SetAntiAliasing(false);
        }
    }
    if (oneFile) {
        WriteOneFile(job, docs, options.output);
    } else {
        WriteFilePerPage(job, docs);
    }
    if (unloadable) {
        throw *unloadable;
    }
    WarnOfRepairs(input, docs, warn);
}

} // namespace rastool
