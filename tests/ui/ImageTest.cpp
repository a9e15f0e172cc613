#include "online/HttpFetcher.h"
#include "support/GuiApp.h"
#include "support/LoopbackServer.h"
#include "support/Wait.h"
#include "ui/BrimImage.h"
#include "ui/BrimImagePanel.h"

#include <QBuffer>
#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <mutex>
#include <thread>

using testsupport::solid;

namespace {

QByteArray encode(const QImage &img, const char *format)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, format);
    return bytes;
}

QImage filled(QSize size, QColor color)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(color);
    return img;
}

TEST(BrimImage, DestinationRectangle)
{
    testsupport::guiApp();
    struct Case
    {
        QSize picture;
        bool stretch, proportional, center;
        QRect expected;
    };
    const Case cases[] = {
        {{200, 100}, false, true, false, {0, 0, 100, 50}},
        {{200, 100}, false, true, true, {0, 25, 100, 50}},
        {{100, 200}, false, true, false, {0, 0, 50, 100}},
        {{100, 200}, false, true, true, {25, 0, 50, 100}},
        {{50, 20}, false, true, false, {0, 0, 50, 20}}, // fits: natural size
        {{50, 20}, true, true, false, {0, 0, 100, 40}}, // stretch and proportional: scaled up
        {{50, 20}, true, false, false, {0, 0, 100, 100}},
        {{50, 20}, false, false, true, {25, 40, 50, 20}},
        {{300, 300}, false, false, false, {0, 0, 300, 300}},
        {{300, 300}, false, true, true, {0, 0, 100, 100}},
    };
    TBrimImage image;
    EXPECT_EQ(image.size(), QSize(105, 105));
    image.resize(100, 100);
    for (const Case &c : cases) {
        image.SetPicture(filled(c.picture, Qt::red));
        image.SetStretch(c.stretch);
        image.SetProportional(c.proportional);
        image.SetCenter(c.center);
        EXPECT_EQ(image.DestRect(), c.expected) << c.picture.width() << "x" << c.picture.height() << " "
                                                << c.stretch << c.proportional << c.center;
    }
    // Drawn where computed.
    image.SetPicture(filled({200, 100}, Qt::red));
    image.SetStretch(false);
    image.SetProportional(true);
    image.SetCenter(true);
    EXPECT_EQ(testsupport::boundsOf(image.grab().toImage(), qRgb(255, 0, 0)), QRect(0, 25, 100, 50));

    image.SetAutoSize(true);
    image.SetPicture(filled({40, 30}, Qt::red));
    EXPECT_EQ(image.size(), QSize(40, 30));
}

// An image its owner lets take the focus works from the keyboard: Enter and
// Space click it, other keys do not, and the keyboard's focus is marked.
TEST(BrimImage, FocusedImageIsClickedWithEnterOrSpace)
{
    testsupport::guiApp();
    QWidget window;
    window.resize(100, 100);
    auto *img = new TBrimImage(&window);
    img->SetPicture(testsupport::solid(QSize(32, 32), Qt::white));
    img->setGeometry(10, 10, 32, 32);
    img->setFocusPolicy(Qt::TabFocus);
    int clicks = 0;
    img->OnClick = [&](QObject *) { ++clicks; };
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::activeWindow() == &window; }));
    img->clearFocus(); // the window's activation may have focused it already
    img->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(testsupport::waitUntil([&] { return img->hasFocus(); }));
    for (const auto &[key, expected] : {std::pair {Qt::Key_Return, 1}, {Qt::Key_Space, 2}, {Qt::Key_A, 2}}) {
        QTest::keyClick(img, key);
        EXPECT_EQ(clicks, expected) << key;
    }
    // The dotted mark shows over the white picture.
    const QImage shown = img->grab().toImage();
    EXPECT_FALSE(testsupport::boundsOf(shown, qRgb(255, 255, 255), true).isEmpty());
}

TEST(BrimImage, GifAnimation)
{
    testsupport::guiApp();
    // Two 2 x 2 frames, red then blue, 50 ms each, looping.
    const QByteArray gif = QByteArray::fromHex(
        "47494638396102000200f10000ff00000000ff00ff0000000021ff0b4e45545343415045322e30030100000021f904000500"
        "00002c0000000002000200000204044110050021f90400050000002c00000000020002000002040cc33005003b");
    TBrimImage image;
    ASSERT_TRUE(image.LoadPicture(gif));
    EXPECT_FALSE(image.IsAnimated());
    EXPECT_EQ(image.Picture().toImage().pixelColor(0, 0), QColor(Qt::red));
    image.SetGIFAnimation(true);
    EXPECT_TRUE(image.IsAnimated());
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return image.Picture().toImage().pixelColor(0, 0) == QColor(Qt::blue); }, 2000));
    image.SetGIFAnimation(false);
    EXPECT_FALSE(image.IsAnimated());
    EXPECT_EQ(image.Picture().toImage().pixelColor(0, 0), QColor(Qt::red));
    // A damaged GIF is refused and leaves the picture as it was.
    EXPECT_FALSE(image.LoadPicture(gif.left(20)));
    EXPECT_FALSE(image.LoadPicture("GIF89a"));
    EXPECT_EQ(image.Picture().size(), QSize(2, 2));
}

TEST(BrimImage, FrameAnimation)
{
    testsupport::guiApp();
    TBrimImage image;
    image.SetAutoSize(true);
    image.SetAnimationFrames({testsupport::solid({4, 3}, Qt::red), testsupport::solid({4, 3}, Qt::blue)}, 20);
    EXPECT_EQ(image.size(), QSize(4, 3));
    EXPECT_FALSE(image.IsAnimated());
    // A frame timer started by mistake would have fired before this one.
    ASSERT_TRUE(testsupport::passTimer(30));
    EXPECT_EQ(image.Picture().toImage().pixelColor(0, 0), QColor(Qt::red));
    image.SetGIFAnimation(true);
    EXPECT_TRUE(image.IsAnimated());
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return image.Picture().toImage().pixelColor(0, 0) == QColor(Qt::blue); }, 2000));
    image.SetGIFAnimation(false);
    EXPECT_EQ(image.Picture().toImage().pixelColor(0, 0), QColor(Qt::red));
    image.ClearPicture();
    EXPECT_FALSE(image.HasPicture());
    EXPECT_FALSE(image.IsAnimated());
}

TEST(BrimImage, PictureTypeFromFirstBytes)
{
    const struct
    {
        QByteArray head;
        QByteArray ext;
    } cases[] = {
        {"BM\x10\x00", ".bmp"},
        {QByteArray("\xFF\xD8\xFF\xE0", 4), ".jpg"},
        {"GIF87a..", ".gif"},
        {"GIF89a..", ".gif"},
        {"GIF88a..", ""},
        {QByteArray("\x89PNG\r\n\x1a\n", 8), ".png"},
        {QByteArray("\x89PNG\r\n", 6), ""},
        {"<html>", ""},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(brim::pictureExtension(c.head), c.ext) << c.head.toHex().toStdString();
}

// A loopback server with a slow and a quick picture, and some bad answers.
class PictureServer
{
public:
    PictureServer()
    {
        red = encode(filled({7, 5}, Qt::red), "PNG");
        blue = encode(filled({9, 3}, Qt::blue), "BMP");
        jpeg = encode(filled({6, 6}, Qt::green), "JPEG");
        server.Get("/slow.png", [this](const httplib::Request &req, httplib::Response &res) {
            record(req);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            res.set_content(red.toStdString(), "image/png");
        });
        server.Get("/quick.bmp", [this](const httplib::Request &req, httplib::Response &res) {
            record(req);
            res.set_content(blue.toStdString(), "image/bmp");
        });
        server.Get("/photo", [this](const httplib::Request &req, httplib::Response &res) {
            record(req);
            res.set_content(jpeg.toStdString(), "application/octet-stream");
        });
        server.Get("/text", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("hello, not a picture", "text/plain");
        });
        server.Get("/empty", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("", "image/png");
        });
        server.Get("/created", [this](const httplib::Request &, httplib::Response &res) {
            res.status = 201;
            res.set_content(red.toStdString(), "image/png");
        });
        server.Get("/broken.png", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(std::string("\x89PNG\r\n\x1a\n garbage", 17), "image/png");
        });
        // Called once the answer is written.
        server.set_logger([this](const httplib::Request &req, const httplib::Response &) {
            std::lock_guard<std::mutex> lock(mutex);
            ++answers[req.path];
        });
        started = loopback.start();
    }
    QString url(const char *path) const { return loopback.qurl(path); }
    int receivedCount(const std::string &path)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received[path];
    }
    int answered(const std::string &path)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return answers[path];
    }
    bool started = false;
    std::string lastAgent()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return agent;
    }

    QByteArray red, blue, jpeg;

private:
    void record(const httplib::Request &req)
    {
        std::lock_guard<std::mutex> lock(mutex);
        agent = req.get_header_value("User-Agent");
        ++received[req.path];
    }
    std::map<std::string, int> received;
    std::mutex mutex;
    std::string agent;
    std::map<std::string, int> answers;
    // Last, so that it stops before what its handlers use goes.
    testsupport::LoopbackServer loopback;
    httplib::Server &server = loopback.server;
};

class HttpPictureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::guiApp();
        online::installHttpFetcher(); // as the program does at start-up
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(server.started);
        oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    }
    void TearDown() override
    {
        // No temporary file is left behind, whatever the outcome.
        EXPECT_TRUE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).isEmpty())
            << QDir(tmp.path()).entryList(QDir::Files).join(' ').toStdString();
        qputenv("TMPDIR", oldTmp);
    }
    // The fetch of path is over: the server answered it and the fetch's temporary file is gone
    // (it is made before the request), and whatever the fetch queued has been delivered.
    bool fetchEnded(const std::string &path)
    {
        return testsupport::waitUntil([&] {
                   return server.answered(path) > 0
                       && QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).isEmpty();
               })
            && testsupport::flushQueuedCalls();
    }

    QTemporaryDir tmp;
    QByteArray oldTmp;
    PictureServer server;
};

TEST_F(HttpPictureTest, FetchOutcomes)
{
    const struct
    {
        const char *path;
        bool ok;
        QByteArray format;
    } cases[] = {
        {"/quick.bmp", true, "bmp"}, {"/photo", true, "jpg"}, {"/text", false, ""},
        {"/empty", false, ""},       {"/created", false, ""}, {"/missing", false, ""},
        {"/broken.png", false, ""},
    };
    for (const auto &c : cases) {
        const brim::HttpPictureResult r = brim::fetchHttpPicture(server.url(c.path));
        EXPECT_EQ(r.ok, c.ok) << c.path;
        EXPECT_EQ(r.format, c.ok ? c.format : r.format) << c.path;
    }
    EXPECT_TRUE(QRegularExpression("^HttpDownloadFile_-?\\d+_Agent$")
                    .match(QString::fromStdString(server.lastAgent()))
                    .hasMatch())
        << server.lastAgent();
    // Nothing listens on this port; other schemes are refused.
    EXPECT_FALSE(brim::fetchHttpPicture("http://127.0.0.1:9/x.png").ok);
    EXPECT_FALSE(brim::fetchHttpPicture("file:///etc/passwd").ok);
}

TEST_F(HttpPictureTest, SecondQuickSettingWins)
{
    TBrimImage image;
    int completed = 0;
    image.OnHttpPictureCompleted = [&](QObject *sender) {
        EXPECT_EQ(sender, &image);
        ++completed;
    };
    image.SetPicture(filled({3, 3}, Qt::black));
    image.SetHttpPicture(server.url("/slow.png"));
    EXPECT_FALSE(image.HasPicture()); // cleared at once
    image.SetHttpPicture(server.url("/quick.bmp"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return completed > 0; }));
    EXPECT_EQ(image.Picture().size(), QSize(9, 3));
    // The superseded slow fetch stops its transfer (or its answer is
    // discarded): once its temporary file is gone nothing more arrives.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).isEmpty(); }));
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(image.Picture().size(), QSize(9, 3));
    EXPECT_EQ(image.Picture().toImage().pixelColor(1, 1), QColor(Qt::blue));
}

TEST_F(HttpPictureTest, UnknownTypeAndBlankAddressShowNothing)
{
    TBrimImage image;
    int completed = 0;
    image.OnHttpPictureCompleted = [&](QObject *) { ++completed; };
    image.SetHttpPicture(server.url("/text"));
    image.SetPicture(filled({3, 3}, Qt::black)); // a picture set meanwhile is kept
    ASSERT_TRUE(fetchEnded("/text"));
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(image.Picture().size(), QSize(3, 3));

    image.SetHttpPicture("   ");
    EXPECT_FALSE(image.HasPicture());
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(completed, 0);
}

TEST_F(HttpPictureTest, DestroyedImageIgnoresLateAnswer)
{
    auto image = std::make_unique<TBrimImage>();
    int completed = 0;
    image->OnHttpPictureCompleted = [&](QObject *) { ++completed; };
    image->SetHttpPicture(server.url("/slow.png"));
    image.reset();
    // The abandoned fetch stops its transfer (perhaps before its request is
    // sent), so the server may never answer it. A positive sign instead: a
    // later picture's fetch completes, then nothing of the first arrives.
    TBrimImage later;
    int laterCompleted = 0;
    later.OnHttpPictureCompleted = [&](QObject *) { ++laterCompleted; };
    later.SetHttpPicture(server.url("/quick.bmp"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return laterCompleted == 1 && QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).isEmpty();
    }));
    ASSERT_TRUE(testsupport::flushQueuedCalls());
    EXPECT_EQ(completed, 0);
}

TEST(BrimImagePanel, KeyColourShowsParent)
{
    testsupport::guiApp();
    QWidget parent;
    parent.resize(100, 60);
    parent.setAutoFillBackground(true);
    QPalette pal = parent.palette();
    pal.setColor(QPalette::Window, Qt::green);
    parent.setPalette(pal);
    auto *panel = new TBrimImagePanel(&parent);
    panel->setGeometry(10, 10, 40, 30);
    QImage pic = filled({40, 30}, Qt::blue);
    {
        QPainter p(&pic);
        p.fillRect(0, 0, 10, 30, QColor(255, 0, 255));
    }
    panel->SetPicture(pic);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));

    QImage shot = parent.grab().toImage();
    EXPECT_EQ(shot.pixelColor(15, 20), QColor(Qt::green)); // see-through
    EXPECT_EQ(shot.pixelColor(30, 20), QColor(Qt::blue));

    panel->SetTransparent(false);
    shot = parent.grab().toImage();
    EXPECT_EQ(shot.pixelColor(15, 20), QColor(255, 0, 255));

    // Alpha blending over the panel's colour.
    QImage half(40, 30, QImage::Format_ARGB32);
    half.fill(QColor(255, 0, 0, 128));
    panel->SetColor(Qt::white);
    panel->SetPicture(half);
    const QColor blended = parent.grab().toImage().pixelColor(30, 20);
    EXPECT_EQ(blended.red(), 255);
    EXPECT_NEAR(blended.green(), 127, 2);
}

TEST(BrimImagePanel, PlacementStretchAndAutoSize)
{
    testsupport::guiApp();
    TBrimImagePanel panel;
    panel.resize(100, 80);
    panel.show();
    panel.SetPicture(filled({20, 10}, Qt::red));
    panel.SetPictureAlign(BrimAlign_BottomRight);
    EXPECT_EQ(panel.PictureRect(), QRect(80, 70, 20, 10));
    panel.SetPictureAlign(BrimAlign_Custom);
    panel.SetPictureX(5);
    panel.SetPictureY(6);
    panel.SetStretch(true);
    EXPECT_EQ(panel.PictureRect(), QRect(5, 6, 100, 80));

    panel.SetAutoSize(true);
    EXPECT_EQ(panel.size(), QSize(20, 10));
    panel.SetAlign(TBrimImagePanel::alTop);
    panel.resize(300, 50);
    EXPECT_EQ(panel.size(), QSize(300, 10)); // width follows the docking, height the picture
}

} // namespace
