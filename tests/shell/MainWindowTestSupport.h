#pragma once

#include "core/MessageBoxTypes.h"
#include "core/OVSettings.h"
#include "platform/AppPath.h"
#include "shell/FormOVMain.h"
#include "shell/OVHeaderBand.h"
#include "support/Files.h"
#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimWebBrowser.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace mwtest {

using testsupport::settle;
using testsupport::waitUntil;

using testsupport::writeFile;

struct Box
{
    QString text;
    QString caption;
    unsigned type;
    quint16 languageId;
};

// A scratch application folder and a main window whose message boxes are
// recorded and answered by the test.
class MainWindowFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TBrimWebBrowser::PrepareApplication(); // before the application object
        testsupport::guiApp();
        ASSERT_TRUE(dir.isValid());
        appDir = dir.path() + QLatin1Char('/');
        platform::setApplicationDirectoryOverride(appDir);
        OVSettings::ResetSettings();
    }
    void TearDown() override
    {
        form.reset();
        platform::setApplicationDirectoryOverride({});
    }

    // Creates the window; FormCreate runs when create is set.
    TFormOVMain &makeForm(bool create = true)
    {
        form = std::make_unique<TFormOVMain>();
        form->MessageBox = [this](QWidget *, const QString &text, const QString &caption, unsigned type,
                                  quint16 languageId) {
            boxes.push_back({text, caption, type, languageId});
            return answer ? answer(boxes.back()) : IDNO;
        };
        form->Probe = [this](const QString &url, quint32) { // on the checker's worker
            QMutexLocker lock(&probeMutex);
            probedUrls << url;
            return probeAnswer;
        };
        if (create)
            form->FormCreate();
        return *form;
    }

    int countBoxes(unsigned type) const
    {
        int n = 0;
        for (const Box &b : boxes)
            n += b.type == type;
        return n;
    }

    QTemporaryDir dir;
    QString appDir;
    std::unique_ptr<TFormOVMain> form;
    std::vector<Box> boxes;
    std::function<int(const Box &)> answer;
    QStringList probed()
    {
        QMutexLocker lock(&probeMutex);
        return probedUrls;
    }

    QMutex probeMutex;
    QStringList probedUrls;
    bool probeAnswer = false;
};

} // namespace mwtest
