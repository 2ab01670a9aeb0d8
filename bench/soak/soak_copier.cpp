// The copying side of `make soak`: one long-lived X11 client that takes the CLIPBOARD again and
// again (text, PNG images, file lists, a fifth of them repeats of earlier copies) and serves
// each offer until it has been read, then checks the store the running ulvane wrote against
// what the history must hold: the newest `cap` distinct copies, newest first.
//   ulvane-soak-copier --count N --cap C --store DIR --pid PID [--seed S]
// Exits 0 when every copy was read and the history is exactly what it must be.
#include "X11RawOwner.h"

#include "store/Store.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>

namespace {

struct Copy
{
    enum Kind { Text, Image, Files } kind;
    QByteArray target;
    QByteArray data;
    QString expected; // text: the whole text; files: the excerpt; image: unused
};

QByteArray pngOf(int n)
{
    QImage image(64, 40, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(n * 37 % 360, 160, 200));
    QPainter painter(&image);
    for (int bit = 0; bit < 24; ++bit) // the number itself, so no two images are alike
        painter.fillRect(2 + bit * 2, 30, 2, 8, (n >> bit) & 1 ? Qt::black : Qt::white);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

Copy makeCopy(int n, std::mt19937 &random)
{
    static const char *words[] = {"invoice",  "meeting",  "draft",  "quarterly",
                                  "figures",  "lunch",    "deploy", "review",
                                  "contract", "Thursday", "kernel", "budget"};
    const int kind = int(random() % 100);
    if (kind < 70) {
        QByteArray text = "soak " + QByteArray::number(n);
        const int length = 3 + int(random() % 40);
        for (int i = 0; i < length; ++i)
            text += ' ' + QByteArray(words[random() % std::size(words)]);
        return {Copy::Text, "UTF8_STRING", text, QString::fromUtf8(text)};
    }
    if (kind < 85)
        return {Copy::Image, "image/png", pngOf(n), {}};
    const QByteArray a = "soak-" + QByteArray::number(n) + ".pdf";
    const QByteArray b = "notes-" + QByteArray::number(n) + ".txt";
    return {Copy::Files, "text/uri-list",
            "file:///tmp/soak/" + a + "\r\nfile:///tmp/soak/" + b + "\r\n",
            QString::fromUtf8(a + ", " + b)};
}

qint64 rssKiB(qint64 pid, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Offers one copy at a time and tells when its content was read. The shared raw owner answers
// on its own thread: TARGETS, then the content, anything else refused.
class Owner : public X11Raw::ClipboardOwner
{
public:
    ~Owner() override { stop(); }

    bool isConnected() const { return connection() && !xcb_connection_has_error(connection()); }

    // Offers `copy` and serves it until its content was asked for, or `timeoutMs` passed.
    bool offer(const Copy &copy, int timeoutMs)
    {
        auto it = m_atoms.find(copy.target);
        if (it == m_atoms.end())
            it = m_atoms.insert(copy.target, atom(copy.target));
        {
            const std::lock_guard lock(m_mutex);
            m_target = *it;
            m_data = copy.data;
            m_served = false;
        }
        if (!claim())
            return false;
        std::unique_lock lock(m_mutex);
        return m_servedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [this] { return m_served; });
    }

protected:
    Outcome answer(const xcb_selection_request_event_t &request, xcb_atom_t property) override
    {
        const std::lock_guard lock(m_mutex);
        if (request.target == targetsAtom()) {
            writeAtoms(request, property, {targetsAtom(), m_target});
            return Outcome::Written;
        }
        if (request.target != m_target)
            return Outcome::Refused;
        write(request, property, m_data);
        m_served = true;
        m_servedChanged.notify_all();
        return Outcome::Written;
    }

private:
    QHash<QByteArray, xcb_atom_t> m_atoms;
    std::mutex m_mutex;
    std::condition_variable m_servedChanged;
    xcb_atom_t m_target = XCB_ATOM_NONE;
    QByteArray m_data;
    bool m_served = false;
};

bool matches(Store &store, const Clip &clip, const Copy &copy)
{
    switch (copy.kind) {
    case Copy::Text:
        return clip.kind == ClipKind::Text && store.plainText(clip.id) == copy.expected;
    case Copy::Files:
        return clip.kind == ClipKind::File && clip.excerpt == copy.expected;
    case Copy::Image: {
        const auto flavors = store.contentFlavors(clip.id);
        return clip.kind == ClipKind::Image && flavors &&
               std::any_of(flavors->cbegin(), flavors->cend(),
                           [&](const Flavor &f) { return f.data == copy.data; });
    }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&args](const QString &name, const QString &fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const int count = option(QStringLiteral("--count"), QStringLiteral("10000")).toInt();
    const int cap = option(QStringLiteral("--cap"), QStringLiteral("1000")).toInt();
    const QString storeDir = option(QStringLiteral("--store"), {});
    const qint64 pid = option(QStringLiteral("--pid"), QStringLiteral("0")).toLongLong();
    std::mt19937 random(option(QStringLiteral("--seed"), QStringLiteral("7")).toUInt());
    if (storeDir.isEmpty() || pid <= 0) {
        std::fprintf(stderr, "usage: ulvane-soak-copier --store DIR --pid PID [--count N] "
                             "[--cap C] [--seed S]\n");
        return 2;
    }

    Owner owner;
    if (!owner.isConnected()) {
        std::fprintf(stderr, "soak: no X server\n");
        return 1;
    }

    // Every distinct content and the copy number that last put it on the clipboard.
    std::vector<Copy> contents;
    std::vector<int> lastCopied;
    int unread = 0;
    int repeats = 0;
    qint64 peakSampled = 0;
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < count; ++n) {
        int index;
        if (!contents.empty() && random() % 5 == 0) {
            // A repeat, sometimes of a copy the cap has already trimmed away.
            const int span = std::min<int>(int(contents.size()), 3 * cap);
            index = int(contents.size()) - 1 - int(random() % span);
            ++repeats;
        } else {
            index = int(contents.size());
            contents.push_back(makeCopy(n, random));
            lastCopied.push_back(0);
        }
        lastCopied[index] = n;
        if (!owner.offer(contents[index], 3000))
            ++unread;
        if ((n + 1) % std::max(1, count / 10) == 0) {
            const qint64 rss = rssKiB(pid, "VmRSS");
            peakSampled = std::max(peakSampled, rss);
            std::printf("soak: %5d copies  %6.1f s  app RSS %5.1f MiB\n", n + 1,
                        clock.elapsed() / 1000.0, rss / 1024.0);
            std::fflush(stdout);
        }
    }
    const double copySeconds = clock.elapsed() / 1000.0;

    // Newest first: what the history must hold once the last copy is stored.
    std::map<int, int, std::greater<int>> byRecency;
    for (size_t i = 0; i < contents.size(); ++i)
        byRecency[lastCopied[i]] = int(i);
    std::vector<int> expected;
    for (const auto &[copy, index] : byRecency) {
        if (int(expected.size()) == cap)
            break;
        expected.push_back(index);
    }

    Store store(storeDir);
    QElapsedTimer settle;
    settle.start();
    QList<Clip> clips;
    for (;;) {
        clips = store.search(QString(), ClipFilter::All, cap + 50);
        if ((!clips.isEmpty() && matches(store, clips.first(), contents[expected.front()])) ||
            settle.elapsed() > 10000)
            break;
        QThread::msleep(100);
    }

    // Copies stored within the same millisecond have no order between them; any other
    // difference of place is a fault.
    int missing = 0;
    int misplaced = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Copy &copy = contents[expected[i]];
        if (i < size_t(clips.size()) && matches(store, clips[int(i)], copy))
            continue;
        const auto found = std::find_if(clips.cbegin(), clips.cend(), [&](const Clip &clip) {
            return matches(store, clip, copy);
        });
        if (found == clips.cend())
            ++missing;
        else if (i >= size_t(clips.size()) || found->created != clips[int(i)].created)
            ++misplaced;
    }
    const qint64 rows = store.count();

    std::printf("soak: %d copies in %.1f s (%.0f/s): %zu distinct contents, %d repeats, "
                "%d never read by ulvane\n",
                count, copySeconds, count / copySeconds, contents.size(), repeats, unread);
    std::printf("soak: history holds %lld rows (cap %d, %zu expected); of the newest %zu "
                "distinct copies %d missing, %d out of order\n",
                rows, cap, expected.size(), expected.size(), missing, misplaced);
    std::printf("soak: highest RSS sampled during the run %.1f MiB\n", peakSampled / 1024.0);
    const bool ok =
        unread == 0 && rows == qint64(expected.size()) && missing == 0 && misplaced == 0;
    std::printf("soak: history %s\n", ok ? "OK" : "WRONG");
    return ok ? 0 : 1;
}
