#include "ui/BrimWebBrowser.h"

#include "core/MessageBoxTypes.h"
#include "online/PageMirror.h"
#include "ui/BrimArchiveSchemeHandler.h"
#include "ui/BrimDialogs.h"

#include <QApplication>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

constexpr const char *kScriptName = "brim-host";
constexpr const char *kBridgeName = "brimHost";
constexpr int kMaxInvokeArguments = 10;

// Runs in the main world of every top-level document before the page's own
// scripts: reports script errors to the host and, for the allowed origins,
// puts the host object in place of window.external. Calls made before the
// channel is connected wait for it.
const char kHostScript[] = R"JS(
(function () {
  'use strict';
  if (window !== window.top || typeof qt !== 'object' || !qt || !qt.webChannelTransport)
    return;
  var transport = qt.webChannelTransport;
  var origins = @ORIGINS@, methods = @METHODS@;
  var PromiseType = Promise, StringType = String, ErrorType = Error, ErrorEventType = ErrorEvent;
  var freeze = Object.freeze, defineProperty = Object.defineProperty;
  var host = null, waiting = [];
  function whenReady(fn) { if (host) fn(); else waiting.push(fn); }
  var QWebChannel = (function () {
    var module;
@QWEBCHANNEL@
    return QWebChannel;
  })();
  new QWebChannel(transport, function (channel) {
    host = channel.objects.@BRIDGE@;
    var queued = waiting;
    waiting = [];
    for (var i = 0; i < queued.length; ++i)
      queued[i]();
  });
  window.addEventListener('error', function (e) {
    if (!(e instanceof ErrorEventType))
      return; // a resource that failed to load
    var report = {
      line: StringType(e.lineno || 0),
      character: StringType(e.colno || 0),
      code: e.error && e.error.name ? StringType(e.error.name) : '',
      message: StringType(e.message || ''),
      url: StringType(e.filename || '')
    };
    whenReady(function () { host.ScriptError(report); });
  }, true);
  if (!methods.length || origins.indexOf(location.origin) < 0)
    return;
  function plain(value) {
    if (value === undefined || value === null)
      return null;
    var type = typeof value;
    return type === 'string' || type === 'number' || type === 'boolean' ? value : StringType(value);
  }
  var external = {};
  methods.forEach(function (name) {
    external[name] = function () {
      var args = [];
      try {
        for (var i = 0; i < arguments.length; ++i)
          args.push(plain(arguments[i]));
      } catch (err) {
        return PromiseType.reject(err);
      }
      return new PromiseType(function (resolve, reject) {
        whenReady(function () {
          host.Invoke(name, args, function (answer) {
            if (answer && typeof answer.error === 'string')
              reject(new ErrorType(answer.error));
            else
              resolve(answer ? answer.value : undefined);
          });
        });
      });
    };
  });
  defineProperty(window, 'external', {value: freeze(external), configurable: false, enumerable: true, writable: false});
})();
)JS";

QString channelLibrary()
{
    static const QString text = [] {
        QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }();
    return text;
}

QString jsonList(const QStringList &items)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact));
}

// The methods of Object that pages may call: public, declared by its own
// classes, taking and returning QVariant only.
bool callable(const QMetaMethod &m)
{
    if (m.access() != QMetaMethod::Public
        || (m.methodType() != QMetaMethod::Method && m.methodType() != QMetaMethod::Slot))
        return false;
    if (m.parameterCount() > kMaxInvokeArguments)
        return false;
    for (int i = 0; i < m.parameterCount(); ++i) {
        if (m.parameterMetaType(i) != QMetaType::fromType<QVariant>())
            return false;
    }
    return m.returnMetaType() == QMetaType::fromType<QVariant>()
        || m.returnMetaType() == QMetaType::fromType<void>();
}

QStringList callableMethods(const QObject *object)
{
    QStringList names;
    if (!object)
        return names;
    const QMetaObject *meta = object->metaObject();
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        const QString name = QString::fromLatin1(m.name());
        if (callable(m) && !names.contains(name))
            names << name;
    }
    return names;
}

} // namespace

// ---- The page, the view and the bridge -------------------------------------------

class TBrimWebPage : public QWebEnginePage
{
public:
    TBrimWebPage(QWebEngineProfile *profile, TBrimWebBrowser *owner)
        : QWebEnginePage(profile, owner)
        , m_owner(owner)
    { }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (isMainFrame) {
            const QUrl current = this->url();
            const bool sameDocument = type != NavigationTypeReload && url.hasFragment()
                && url.adjusted(QUrl::RemoveFragment) == current.adjusted(QUrl::RemoveFragment);
            m_owner->mainFrameNavigation(url, sameDocument);
        }
        return true;
    }
    // No extra windows or tabs: links and scripts that ask for one get nothing.
    QWebEnginePage *createWindow(WebWindowType) override { return nullptr; }
    void javaScriptAlert(const QUrl &, const QString &msg) override
    {
        m_owner->showMessage(msg, QStringLiteral("Message from the page"), MB_OK | MB_ICONWARNING);
    }
    bool javaScriptConfirm(const QUrl &, const QString &msg) override
    {
        return m_owner->showMessage(msg, QStringLiteral("Message from the page"),
                                    MB_OKCANCEL | MB_ICONQUESTION)
            == IDOK;
    }
    bool javaScriptPrompt(const QUrl &origin, const QString &msg, const QString &defaultValue,
                          QString *result) override
    {
        if (m_owner->OnShowMessage)
            return false;
        return QWebEnginePage::javaScriptPrompt(origin, msg, defaultValue, result);
    }
    // The program keeps no log; script errors reach the host through the page's error event.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &, int,
                                  const QString &) override
    { }

private:
    TBrimWebBrowser *m_owner;
};

class TBrimWebView : public QWebEngineView
{
public:
    explicit TBrimWebView(TBrimWebBrowser *owner)
        : QWebEngineView(owner)
        , m_owner(owner)
    { }

protected:
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        if (m_owner->NoContextMenu()) {
            event->accept();
            return;
        }
        QWebEngineView::contextMenuEvent(event);
    }
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType) override { return nullptr; }

private:
    TBrimWebBrowser *m_owner;
};

class TBrimWebBridge : public QObject
{
    Q_OBJECT
public:
    explicit TBrimWebBridge(TBrimWebBrowser *owner)
        : QObject(owner)
        , m_owner(owner)
    { }

    Q_INVOKABLE void ScriptError(const QVariantMap &report) { m_owner->scriptError(report); }
    Q_INVOKABLE QVariantMap Invoke(const QString &method, const QVariantList &args)
    {
        return m_owner->invokeExternal(method, args);
    }

private:
    TBrimWebBrowser *m_owner;
};

// ---- TBrimWebBrowser --------------------------------------------------------------------

TBrimWebBrowser::TBrimWebBrowser(QWidget *Parent, QWebEngineProfile *Profile)
    : QFrame(Parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new TBrimWebView(this);
    m_page = new TBrimWebPage(Profile ? Profile : QWebEngineProfile::defaultProfile(), this);
    m_view->setPage(m_page);
    layout->addWidget(m_view);

    m_channel = new QWebChannel(this);
    m_bridge = new TBrimWebBridge(this);
    m_channel->registerObject(QString::fromLatin1(kBridgeName), m_bridge);
    m_page->setWebChannel(m_channel);

    // A host does not let pages open windows, go full screen or reach local files.
    QWebEngineSettings *settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);

    connect(m_page, &QWebEnginePage::loadStarted, this, [this] { m_readyState = READYSTATE_LOADING; });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        m_readyState = ok ? READYSTATE_INTERACTIVE : READYSTATE_COMPLETE;
        const QPointer<TBrimWebBrowser> alive(this);
        if (OnDocumentComplete)
            OnDocumentComplete(this, m_page->url());
        if (alive)
            m_readyState = READYSTATE_COMPLETE;
    });

    // Keys reach the view's inner widget, created once a page is shown.
    m_view->installEventFilter(this);
    for (QObject *child : m_view->children())
        watchKeys(child);

    SetNoBorder(false);
    applySettings();
    installScript();
}

TBrimWebBrowser::~TBrimWebBrowser()
{
    // The page goes before the channel and the bridge it calls.
    delete m_view;
    m_view = nullptr;
    delete m_page;
    m_page = nullptr;
    delete m_external;
}

void TBrimWebBrowser::PrepareApplication(const QStringList &EngineFlags)
{
    qRegisterMetaType<TBrimScriptFault>();
    // All of these only count before the application object exists.
    if (QCoreApplication::instance())
        return;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TBrimArchiveSchemeHandler::RegisterScheme();
    QString flags = qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const QString &flag : EngineFlags) {
        const QString name = flag.section(QLatin1Char('='), 0, 0);
        if (!flags.contains(name))
            flags += (flags.isEmpty() ? QString() : QStringLiteral(" ")) + flag;
    }
    if (!flags.isEmpty())
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.toLocal8Bit());
}

QVariant TBrimWebBrowser::ScriptFault(const QString &Message)
{
    return QVariant::fromValue(TBrimScriptFault {Message});
}

QWebEngineView *TBrimWebBrowser::View() const
{
    return m_view;
}

QWebEnginePage *TBrimWebBrowser::Page() const
{
    return m_page;
}

void TBrimWebBrowser::SetNoBorder(bool Value)
{
    m_noBorder = Value;
    if (Value) {
        setFrameStyle(QFrame::NoFrame);
    } else {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
    }
}

void TBrimWebBrowser::SetNoContextMenu(bool Value)
{
    m_noContextMenu = Value;
    m_view->setContextMenuPolicy(Value ? Qt::PreventContextMenu : Qt::DefaultContextMenu);
}

void TBrimWebBrowser::SetNoScrollBars(bool Value)
{
    if (m_noScrollBars == Value)
        return;
    m_noScrollBars = Value;
    applySettings();
    if (HasDocument())
        Refresh();
}

void TBrimWebBrowser::SetNoScript(bool Value)
{
    if (m_noScript == Value)
        return;
    m_noScript = Value;
    applySettings();
    if (HasDocument())
        Refresh();
}

void TBrimWebBrowser::SetExternalOrigins(const QStringList &Value)
{
    QStringList origins;
    for (const QString &entry : Value) {
        const QString origin = UrlOriginText(QUrl(entry));
        if (origin != QLatin1String("null") && !origins.contains(origin))
            origins << origin;
    }
    m_externalOrigins = origins;
    installScript();
}

void TBrimWebBrowser::applySettings()
{
    QWebEngineSettings *settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, !m_noScrollBars);
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, !m_noScript && !m_scriptsStopped);
}

void TBrimWebBrowser::Navigate(const QString &UrlOrPath)
{
    updateExternal();
    QUrl url(UrlOrPath);
    if (UrlOrPath.startsWith(QLatin1Char('/')))
        url = QUrl::fromLocalFile(UrlOrPath);
    else if (url.scheme().size() < 2) // no scheme, or a drive letter
        url = QUrl::fromUserInput(UrlOrPath, QDir::currentPath(), QUrl::AssumeLocalFile);
    m_page->load(url);
}

void TBrimWebBrowser::Refresh()
{
    m_page->triggerAction(QWebEnginePage::Reload);
}

bool TBrimWebBrowser::Unload()
{
    if (isVisible() || !HasDocument())
        return false;
    if (m_page->lifecycleState() != QWebEnginePage::LifecycleState::Discarded)
        m_page->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
    return m_page->lifecycleState() == QWebEnginePage::LifecycleState::Discarded;
}

QUrl TBrimWebBrowser::LocationURL() const
{
    return m_page->url();
}

bool TBrimWebBrowser::HasDocument() const
{
    return !m_page->url().isEmpty();
}

void TBrimWebBrowser::updateExternal()
{
    QObject *object = OnGetExternal ? OnGetExternal(this) : nullptr;
    if (object != m_external) {
        delete m_external;
        m_external = object;
        if (object)
            object->setParent(this);
    }
    m_externalMethods = callableMethods(object);
    installScript();
}

void TBrimWebBrowser::installScript()
{
    QString source = QString::fromUtf8(kHostScript);
    source.replace(QLatin1String("@ORIGINS@"), jsonList(m_externalOrigins));
    source.replace(QLatin1String("@METHODS@"), jsonList(m_externalMethods));
    source.replace(QLatin1String("@BRIDGE@"), QLatin1String(kBridgeName));
    source.replace(QLatin1String("@QWEBCHANNEL@"), channelLibrary());
    if (source == m_installedScript)
        return;
    m_installedScript = source;
    QWebEngineScriptCollection &scripts = m_page->scripts();
    for (const QWebEngineScript &old : scripts.find(QString::fromLatin1(kScriptName)))
        scripts.remove(old);
    QWebEngineScript script;
    script.setName(QString::fromLatin1(kScriptName));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(source);
    scripts.insert(script);
}

bool TBrimWebBrowser::externalAllowedFor(const QUrl &url) const
{
    const QString origin = UrlOriginText(url);
    return origin != QLatin1String("null") && m_externalOrigins.contains(origin);
}

QVariantMap TBrimWebBrowser::invokeExternal(const QString &method, const QVariantList &args)
{
    const auto refuse = [](const QString &why) { return QVariantMap {{QStringLiteral("error"), why}}; };
    // The page shown now, not the one the call may claim to come from.
    if (!externalAllowedFor(m_page->url()))
        return refuse(QStringLiteral("This page may not call the host."));
    QObject *object = m_external;
    if (!object)
        return refuse(QStringLiteral("No host object."));
    const QMetaObject *meta = object->metaObject();
    const QByteArray name = method.toLatin1();
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.name() != name || !callable(m))
            continue;
        QVariant values[kMaxInvokeArguments];
        QGenericArgument arguments[kMaxInvokeArguments];
        for (int k = 0; k < m.parameterCount(); ++k) {
            values[k] = k < args.size() ? args[k] : QVariant();
            arguments[k] = Q_ARG(QVariant, values[k]);
        }
        QVariant result;
        const bool returns = m.returnMetaType() == QMetaType::fromType<QVariant>();
        const bool ok = m.invoke(object, Qt::DirectConnection,
                                 returns ? Q_RETURN_ARG(QVariant, result) : QGenericReturnArgument(),
                                 arguments[0], arguments[1], arguments[2], arguments[3], arguments[4],
                                 arguments[5], arguments[6], arguments[7], arguments[8], arguments[9]);
        if (!ok)
            return refuse(QStringLiteral("The host could not run %1.").arg(method));
        if (result.metaType() == QMetaType::fromType<TBrimScriptFault>())
            return refuse(result.value<TBrimScriptFault>().Message);
        return QVariantMap {{QStringLiteral("value"), result}};
    }
    return refuse(QStringLiteral("The host has no method %1.").arg(method));
}

void TBrimWebBrowser::scriptError(const QVariantMap &report)
{
    // Reports still queued from a page whose scripts were stopped, or arriving
    // while the question about an earlier one is open, change nothing.
    if (m_scriptsStopped || m_asking)
        return;
    const auto field
        = [&report](const char *key) { return report.value(QLatin1String(key)).toString().left(2048); };
    TScriptErrorAction action = m_scriptErrorAction;
    const QPointer<TBrimWebBrowser> alive(this);
    if (OnScriptError)
        OnScriptError(this, field("line"), field("character"), field("code"), field("message"), field("url"),
                      action);
    if (!alive)
        return;
    if (action == eaAskUser) {
        m_asking = true;
        const QString text
            = QStringLiteral("A script on this page caused an error.\n\nLine: %1\nCharacter: %2\n"
                             "Error: %3\nCode: %4\nAddress: %5\n\n"
                             "Keep running the scripts of this page?")
                  .arg(field("line"), field("character"), field("message"), field("code"), field("url"));
        const int answer = showMessage(text, QStringLiteral("Script error"), MB_YESNO | MB_ICONWARNING);
        if (!alive)
            return;
        m_asking = false;
        action = answer == IDYES ? eaContinue : eaCancel;
    }
    if (action == eaCancel)
        stopScripts();
}

void TBrimWebBrowser::stopScripts()
{
    m_scriptsStopped = true;
    applySettings();
}

void TBrimWebBrowser::mainFrameNavigation(const QUrl &, bool sameDocument)
{
    // A new document runs its scripts again.
    if (m_scriptsStopped && !sameDocument) {
        m_scriptsStopped = false;
        applySettings();
    }
}

int TBrimWebBrowser::showMessage(const QString &text, const QString &caption, quint32 type)
{
    if (OnShowMessage)
        return OnShowMessage(this, text, caption, type);
    return ShowMessageBox(this, text, caption, type, 0);
}

void TBrimWebBrowser::watchKeys(QObject *object)
{
    if (object && object->isWidgetType())
        object->installEventFilter(this);
}

bool TBrimWebBrowser::eventFilter(QObject *Watched, QEvent *Event)
{
    switch (Event->type()) {
    case QEvent::ChildAdded:
        if (Watched == m_view)
            watchKeys(static_cast<QChildEvent *>(Event)->child());
        break;
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(Event);
        const Qt::KeyboardModifiers mods = key->modifiers();
        const int code = key->key();
        if (!(mods & Qt::ControlModifier) || (mods & Qt::ShiftModifier) || code < 0x20 || code > 0x7E)
            break;
        const QChar ch = QChar(code).toUpper();
        if (!m_maskedCtrlChars.contains(ch))
            break;
        if (Event->type() == QEvent::KeyPress && OnMaskedCtrlChar)
            OnMaskedCtrlChar(this, ch);
        Event->accept();
        return true;
    }
    default:
        break;
    }
    return QFrame::eventFilter(Watched, Event);
}

#include "BrimWebBrowser.moc"
