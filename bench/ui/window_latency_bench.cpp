// How responsive the window stays while it harvests: posts picture articles (real JPEGs) to a
// private INN instance, opens the main window over a profile for it, presses Go and, until the run
// ends, arms a 10 ms probe timer on the window's thread again and again. How much later than asked
// each probe fires is the time the event loop was busy elsewhere: what a user clicking or dragging
// the window would wait.
//
//   window_latency_bench [--articles N] [--screenshot PATH]
//
// --screenshot saves a PNG of the whole screen once about 40% of the articles are saved (the time
// the grab takes is left out of the probes). Runs on any display: Xvfb (scripts/screenshot.sh) or
// QT_QPA_PLATFORM=offscreen. Needs INN (scripts/install-deps.sh) and root, like the INN tests.

#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "../BenchSupport.h"
#include "app/ui/MainDlg.h"
#include "settings/ProfileStore.h"
#include "support/InnServer.h"
#include "support/NewsModel.h"
#include "util/TextFiles.h"

namespace {

using qm::bench::Clock;
using qm::bench::LoadAverage;
using qm::bench::Random;
using qm::bench::SecondsSince;

constexpr const char* kGroup = "alt.binaries.pictures.bench.window";
constexpr const char* kHost = "127.0.0.1";
constexpr int kPostBatch = 100;  // articles held in memory at once while posting
constexpr int kGroupsPerServer = 150;
constexpr std::chrono::milliseconds kProbeInterval{10};
constexpr double kTargetP99Ms = 50;
constexpr double kScreenshotShare = 0.4;
constexpr size_t kWorstShown = 5;
// Before Go: time for the window to be mapped and painted once, as a user would see it.
constexpr int kSettleMilliseconds = 500;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// What the window's thread did over a wait, from the scheduler's own figures: time on a CPU, and
// time ready to run but waiting for one (other processes had them). The rest it was blocked: in
// the event loop's poll, on the display server or on a lock.
struct ThreadTimes {
    double cpuMs = 0;
    double runQueueMs = 0;
};

ThreadTimes ReadThreadTimes() {
    std::ifstream in("/proc/thread-self/schedstat");
    double cpuNs = 0, queueNs = 0;
    in >> cpuNs >> queueNs;
    return {cpuNs / 1e6, queueNs / 1e6};
}

struct Options {
    long articles = 1000;
    std::string screenshot;
};

// ---------------------------------------------------------------------------- pictures

std::string PictureName(long index) {
    char name[32];
    std::snprintf(name, sizeof name, "window_%05ld.jpg", index + 1);
    return name;
}

int Channel(double v) {
    return std::clamp(static_cast<int>(v), 0, 255);
}

// A landscape of its own for each article (sky, sun, three ridges, grain), as a JPEG of 20 to
// 60 KB: real pictures for the thumbnail to decode, of the sizes posted pictures have.
QByteArray MakeJpeg(Random& random) {
    static const QSize kSizes[] = {{640, 480}, {800, 600}, {600, 800}, {720, 540}, {768, 512}};
    const QSize size = kSizes[random.Next() % std::size(kSizes)];
    const int w = size.width(), h = size.height();
    const QColor top = QColor::fromHsvF(static_cast<float>(random.Unit()), 0.6f, 0.55f);
    const QColor bottom = QColor::fromHsvF(static_cast<float>(random.Unit()), 0.35f, 0.95f);
    const double sunX = 0.2 + 0.6 * random.Unit(), sunY = 0.15 + 0.3 * random.Unit();
    double phase[3], freq[3];
    for (int k = 0; k < 3; ++k) {
        phase[k] = random.Unit() * 2 * std::numbers::pi;
        freq[k] = 4 + 10 * random.Unit();
    }
    const double grain = 6 + 10 * random.Unit();
    double land[3][3];
    for (int k = 0; k < 3; ++k) {
        land[k][0] = 90 - 25 * k + 30 * std::sin(phase[k]);
        land[k][1] = 110 - 25 * k + 20 * std::cos(phase[k]);
        land[k][2] = 80 - 20 * k;
    }

    // The ridges depend on the column only.
    std::vector<std::array<double, 3>> ridges(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const double u = static_cast<double>(x) / w;
        for (int k = 0; k < 3; ++k) {
            ridges[static_cast<size_t>(x)][k] = 0.45 + 0.15 * k +
                                                0.08 * std::sin(u * freq[k] + phase[k]) +
                                                0.03 * std::sin(u * freq[k] * 3.7 + phase[k]);
        }
    }
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double v = static_cast<double>(y) / h;
        const double skyR = top.red() + (bottom.red() - top.red()) * v;
        const double skyG = top.green() + (bottom.green() - top.green()) * v;
        const double skyB = top.blue() + (bottom.blue() - top.blue()) * v;
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w;
            double r = skyR, g = skyG, b = skyB;
            const double dx = (u - sunX) * w / h, dy = v - sunY;
            if (dx * dx + dy * dy < 0.006) r = 255, g = 235, b = 150;
            for (int k = 0; k < 3; ++k) {
                if (v > ridges[static_cast<size_t>(x)][k]) {
                    r = land[k][0], g = land[k][1], b = land[k][2];
                }
            }
            const double n = (random.Unit() - 0.5) * grain;
            line[x] = qRgb(Channel(r + n), Channel(g + n), Channel(b + n));
        }
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return jpeg;
}

std::string MakeArticle(Random& random, long index, std::int64_t& pictureBytes) {
    const std::string name = PictureName(index);
    const QByteArray jpeg = MakeJpeg(random);
    pictureBytes += jpeg.size();
    return "From: Window Bench <bench@quarrymoth.invalid>\nNewsgroups: " + std::string(kGroup) +
           "\nSubject: " + name + " (1/1)\nMessage-ID: <" + name + "." +
           std::to_string(random.Next() % 1000000007) + "@bench.quarrymoth.invalid>\n\n" +
           qm::test::UuencodeBody(std::string(jpeg.constData(), static_cast<size_t>(jpeg.size())),
                                  name);
}

bool PostArticles(qm::test::InnServer& server, long articles, std::int64_t& pictureBytes) {
    Random random(0x77696e646f77ull + static_cast<std::uint64_t>(::getpid()));
    for (long first = 0; first < articles; first += kPostBatch) {
        std::vector<std::string> batch;
        for (long i = first; i < std::min(articles, first + kPostBatch); ++i) {
            batch.push_back(MakeArticle(random, i, pictureBytes));
        }
        if (!server.PostAll(batch)) return false;
    }
    return server.WaitForArticles(kGroup, articles, std::chrono::seconds(120));
}

// ---------------------------------------------------------------------------- profile

// A profile as a long-time user has it (every main key, the read marks of two servers), with the
// thumbnail shown and no question to hold the run up.
std::string Profile(int port, const std::string& downloadDir, const std::string& logFile) {
    return qm::bench::RealisticProfile(kHost, port, downloadDir, logFile, false, 5,
                                       kGroupsPerServer);
}

// ---------------------------------------------------------------------------- the probe

// One firing of the probe: how late it came, when (seconds after Go) and how far the run was.
struct Sample {
    double lateMs = 0;
    double busyMs = 0;      // the window's thread on a CPU over the probe's wait
    double runQueueMs = 0;  // the thread ready to run but given no CPU
    double atSeconds = 0;
    long saved = 0;
};

// Arms a single-shot timer for kProbeInterval, and on each firing notes how much later than that
// it came, then arms it again. Re-arming from the firing (rather than a repeating timer, which
// catches up on its schedule) keeps every probe a plain "asked for 10 ms, got it after X".
class Probe : public QObject {
public:
    Probe(std::function<long()> saved, QObject* parent)
        : QObject(parent), saved_(std::move(saved)) {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(static_cast<int>(kProbeInterval.count()));
        connect(&timer_, &QTimer::timeout, this, &Probe::Fired);
    }

    // Runs once per probe, after it is recorded; time spent in it is not counted.
    std::function<void()> afterEach;

    void Start() {
        start_ = Clock::now();
        Arm();
    }
    void Stop() { timer_.stop(); }
    const std::vector<Sample>& samples() const { return samples_; }

private:
    void Arm() {
        armed_ = Clock::now();
        armedTimes_ = ReadThreadTimes();
        timer_.start();
    }
    void Fired() {
        const Clock::time_point now = Clock::now();
        // A timer may fire a fraction of a millisecond early; that is no wait for anyone.
        const ThreadTimes times = ReadThreadTimes();
        samples_.push_back({std::max(0.0, Milliseconds(now - armed_ - kProbeInterval)),
                            times.cpuMs - armedTimes_.cpuMs,
                            times.runQueueMs - armedTimes_.runQueueMs,
                            std::chrono::duration<double>(now - start_).count(), saved_()});
        if (afterEach) afterEach();
        Arm();
    }

    std::function<long()> saved_;
    QTimer timer_;
    Clock::time_point start_, armed_;
    ThreadTimes armedTimes_;
    std::vector<Sample> samples_;
};

double Percentile(const std::vector<double>& sorted, double share) {
    if (sorted.empty()) return 0;
    // Nearest rank: the smallest value that at least this share of the probes do not exceed.
    auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

long LabelNumber(const QLabel* label) {
    return label ? std::strtol(label->text().toLatin1().constData(), nullptr, 10) : -1;
}

// ---------------------------------------------------------------------------- the run

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--articles" && i + 1 < argc) {
            options.articles = std::strtol(argv[++i], nullptr, 10);
            if (options.articles <= 0) return false;
        } else if (arg == "--screenshot" && i + 1 < argc) {
            options.screenshot = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

int RunBench(QApplication& app, const Options& options) {
    using qm::test::InnServer;
    if (!InnServer::Available()) {
        std::fprintf(stderr,
                     "window_latency_bench: needs INN (scripts/install-deps.sh) and root\n");
        return 1;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    std::printf(
        "window_latency_bench: %ld picture articles, platform %s, screen %dx%d at %.2f"
        " (load average %s)\n",
        options.articles, qPrintable(QGuiApplication::platformName()), screen->geometry().width(),
        screen->geometry().height(), screen->devicePixelRatio(), LoadAverage().c_str());

    InnServer server;
    if (!server.Start() || !server.CreateGroup(kGroup)) {
        std::fprintf(stderr, "window_latency_bench: %s\n", server.error().c_str());
        return 1;
    }
    auto postStart = Clock::now();
    std::int64_t pictureBytes = 0;
    if (!PostArticles(server, options.articles, pictureBytes)) {
        std::fprintf(stderr, "window_latency_bench: posting failed: %s\n", server.error().c_str());
        return 1;
    }
    std::printf("posted %ld JPEGs (%.1f MB, %.1f KB each) in %.1f s to INN on port %d\n",
                options.articles, static_cast<double>(pictureBytes) / 1e6,
                static_cast<double>(pictureBytes) / 1024.0 / static_cast<double>(options.articles),
                SecondsSince(postStart), server.port());

    const qm::bench::WorkDir work("/tmp/qm-window-bench-");
    if (work.path().empty()) {
        std::fprintf(stderr, "window_latency_bench: cannot make a work directory under /tmp\n");
        return 1;
    }
    const std::string dataDir = work.path() + "/data", pictures = work.path() + "/pictures/";
    const std::string profilePath = work.path() + "/quarrymoth.ini";
    qm::MakeDirectories(dataDir);
    qm::MakeDirectories(pictures);
    if (!qm::ReplaceFileAtomically(profilePath,
                                   Profile(server.port(), pictures, dataDir + "/DownloadLog")) ||
        !qm::ReplaceFileAtomically(dataDir + "/Groups." + kHost, std::string(kGroup) + "\n") ||
        ::chdir(dataDir.c_str()) != 0) {
        std::fprintf(stderr, "window_latency_bench: cannot write the profile and group list\n");
        return 1;
    }

    qm::ProfileStore profile;
    profile.Load(profilePath);
    double harvestSeconds = 0, grabMs = 0, shotAtSeconds = 0;
    long savedAtShot = -1;
    std::vector<Sample> samples;
    QString status;
    long saved = -1;
    {
        qm::CMainDlg window(profile, false);
        auto* go = window.findChild<QPushButton*>(QStringLiteral("goButton"));
        auto* savedLabel = window.findChild<QLabel*>(QStringLiteral("articlesSavedValue"));
        auto* statusLabel = window.findChild<QLabel*>(QStringLiteral("statusLine"));
        if (!go || !savedLabel || !statusLabel) {
            std::fprintf(stderr, "window_latency_bench: the window has no Go button or labels\n");
            return 1;
        }
        Probe probe([savedLabel] { return LabelNumber(savedLabel); }, &window);
        const long shotAt = std::max(1L, std::lround(kScreenshotShare * options.articles));
        probe.afterEach = [&] {
            if (options.screenshot.empty() || savedAtShot >= 0) return;
            const long now = probe.samples().back().saved;
            if (now < shotAt) return;
            shotAtSeconds = probe.samples().back().atSeconds;
            auto start = Clock::now();
            const bool ok =
                screen->grabWindow(0).save(QString::fromStdString(options.screenshot), "PNG");
            grabMs = Milliseconds(Clock::now() - start);
            savedAtShot = now;
            if (!ok) {
                std::fprintf(stderr, "window_latency_bench: cannot save %s\n",
                             options.screenshot.c_str());
            }
        };
        Clock::time_point goAt;
        QObject::connect(&window, &qm::CMainDlg::RunFinished, &window, [&] {
            harvestSeconds = SecondsSince(goAt);
            probe.Stop();
            app.quit();
        });
        window.show();
        QTimer::singleShot(kSettleMilliseconds, &window, [&] {
            goAt = Clock::now();
            probe.Start();
            go->click();
        });
        QApplication::exec();
        samples = probe.samples();
        saved = LabelNumber(savedLabel);
        status = statusLabel->text().trimmed();
    }
    if (::chdir("/") != 0) return 1;

    std::vector<double> lateness;
    lateness.reserve(samples.size());
    for (const Sample& sample : samples) lateness.push_back(sample.lateMs);
    std::sort(lateness.begin(), lateness.end());
    const double p99 = Percentile(lateness, 0.99);
    std::printf("\nstatus at the end:   %s\n", qPrintable(status));
    std::printf("articles saved:      %ld of %ld\n", saved, options.articles);
    std::printf("harvest time:        %.2f s (Go to the end of the run)\n", harvestSeconds);
    std::printf("probes:              %zu (every %lld ms)\n", lateness.size(),
                static_cast<long long>(kProbeInterval.count()));
    std::printf("event loop latency:  p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                Percentile(lateness, 0.50), Percentile(lateness, 0.90), p99,
                lateness.empty() ? 0.0 : lateness.back());
    std::printf("p99 under %.0f ms:     %s\n", kTargetP99Ms,
                p99 < kTargetP99Ms ? "met" : "NOT MET");
    if (!options.screenshot.empty()) {
        if (savedAtShot >= 0) {
            std::printf(
                "screenshot:          %s at %.2f s, %ld saved (grab %.0f ms, not in the probes)\n",
                options.screenshot.c_str(), shotAtSeconds, savedAtShot, grabMs);
        } else {
            std::printf("screenshot:          none taken\n");
        }
    }
    double wallMs = 0, busyMs = 0, queueMs = 0;
    for (const Sample& sample : samples) {
        wallMs += static_cast<double>(kProbeInterval.count()) + sample.lateMs;
        busyMs += sample.busyMs;
        queueMs += sample.runQueueMs;
    }
    if (wallMs > 0) {
        std::printf(
            "window thread:       on a CPU %.0f%% of the probed time, ready but waiting"
            " for a CPU %.0f%%\n",
            100 * busyMs / wallMs, 100 * queueMs / wallMs);
    }
    // Where the longest waits were: at the start, steady through the run, or after the grab.
    std::vector<Sample> worst = samples;
    std::sort(worst.begin(), worst.end(),
              [](const Sample& a, const Sample& b) { return a.lateMs > b.lateMs; });
    worst.resize(std::min<size_t>(worst.size(), kWorstShown));
    std::printf("longest waits:");
    for (const Sample& sample : worst) {
        std::printf(
            "\n  %6.1f ms late at %.2f s, %4ld saved; window thread: on a CPU %5.1f ms, waiting "
            "for one %5.1f ms",
            sample.lateMs, sample.atSeconds, sample.saved, sample.busyMs, sample.runQueueMs);
    }
    std::printf("\n");
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    const bool complete = saved == options.articles && status == "Operation complete" &&
                          (options.screenshot.empty() || savedAtShot >= 0);
    return complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: window_latency_bench [--articles N] [--screenshot PATH]\n");
        return 2;
    }
    QApplication app(argc, argv);
    return RunBench(app, options);
}
