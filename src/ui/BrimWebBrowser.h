#pragma once

// The toolkit's embedded web browser: a page view with the host's say over
// borders, context menus, scroll bars, scripts, script errors, control keys,
// new windows and dialogs, and a host object that the page's scripts reach as
// window.external.

#include <QFrame>
#include <QMetaType>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <functional>

class QWebChannel;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class TBrimWebBridge;
class TBrimWebPage;
class TBrimWebView;

// What a script error on the page does.
enum TScriptErrorAction {
    eaContinue, // the page's scripts go on running
    eaCancel, // no dialog; the page's scripts stop until the next page is loaded
    eaAskUser, // a question decides between the two
};

// Ready states of the browser.
inline constexpr int READYSTATE_UNINITIALIZED = 0;
inline constexpr int READYSTATE_LOADING = 1;
inline constexpr int READYSTATE_LOADED = 2;
inline constexpr int READYSTATE_INTERACTIVE = 3;
inline constexpr int READYSTATE_COMPLETE = 4;

// A host method's failure: returned (in a QVariant) by a method of the
// external object, it rejects the page's promise with an Error carrying Message.
struct TBrimScriptFault
{
    QString Message;
};
Q_DECLARE_METATYPE(TBrimScriptFault)

class TBrimWebBrowser : public QFrame
{
    Q_OBJECT
public:
    // Profile: the one the page lives in (the application's default when null);
    // it must outlive the browser.
    explicit TBrimWebBrowser(QWidget *Parent = nullptr, QWebEngineProfile *Profile = nullptr);
    ~TBrimWebBrowser() override;

    // Call once before the application object is created: the engine's
    // shared graphics contexts, the page archive scheme, and EngineFlags
    // (engine command-line switches) added to QTWEBENGINE_CHROMIUM_FLAGS
    // unless that already names the switch.
    static void PrepareApplication(const QStringList &EngineFlags = {});

    // Host flags. Changing NoScrollBars or NoScript while a document is shown reloads it.
    bool NoBorder() const { return m_noBorder; }
    void SetNoBorder(bool Value);
    bool NoContextMenu() const { return m_noContextMenu; }
    void SetNoContextMenu(bool Value);
    bool NoScrollBars() const { return m_noScrollBars; }
    void SetNoScrollBars(bool Value);
    bool NoScript() const { return m_noScript; }
    void SetNoScript(bool Value);
    TScriptErrorAction ScriptErrorAction() const { return m_scriptErrorAction; }
    void SetScriptErrorAction(TScriptErrorAction Value) { m_scriptErrorAction = Value; }
    // Ctrl plus one of these characters (with or without Alt, never with
    // Shift) is swallowed and reported by OnMaskedCtrlChar. Default "N".
    QString MaskedCtrlChars() const { return m_maskedCtrlChars; }
    void SetMaskedCtrlChars(const QString &Value) { m_maskedCtrlChars = Value.toUpper(); }
    // Origins ("http://host:port") whose pages get window.external; no other
    // page does, neither a frame nor a page navigated to from an allowed one.
    // Every call is checked again against the page shown at that moment.
    QStringList ExternalOrigins() const { return m_externalOrigins; }
    void SetExternalOrigins(const QStringList &Value);

    // Loads an address, or a local file given by its path.
    void Navigate(const QString &UrlOrPath);
    void Refresh();
    // Frees the document of a hidden browser and what the engine holds for
    // it; the next Navigate or Refresh loads again. False while shown.
    bool Unload();
    // READYSTATE_LOADING while a document loads; during OnDocumentComplete
    // READYSTATE_INTERACTIVE when a document has arrived and
    // READYSTATE_COMPLETE when the load failed (nothing new to show);
    // READYSTATE_COMPLETE afterwards.
    int ReadyState() const { return m_readyState; }
    QUrl LocationURL() const;
    // Whether a document is loaded (the flags then take effect by reloading).
    bool HasDocument() const;
    // The host object window.external stands for at the moment (null before the first Navigate).
    QObject *External() const { return m_external; }

    QWebEngineView *View() const;
    QWebEnginePage *Page() const;

    // The value a host method returns to reject the page's call with Message.
    static QVariant ScriptFault(const QString &Message);

    // Asked on every Navigate for the object behind window.external. Its
    // public invokable methods, taking and returning QVariant, become the
    // object's methods; each call returns a promise. The browser owns the object.
    std::function<QObject *(TBrimWebBrowser *Sender)> OnGetExternal;
    // A top-level document has loaded (or failed to); see ReadyState.
    std::function<void(TBrimWebBrowser *Sender, const QUrl &Url)> OnDocumentComplete;
    std::function<void(TBrimWebBrowser *Sender, QChar Char)> OnMaskedCtrlChar;
    // Raised for every script error before Action is carried out; the handler
    // may change it. Code the host runs in the page itself counts as the page's.
    std::function<void(TBrimWebBrowser *Sender, const QString &ErrorLine, const QString &ErrorCharacter,
                       const QString &ErrorCode, const QString &ErrorMessage, const QString &ErrorUrl,
                       TScriptErrorAction &Action)>
        OnScriptError;
    // Every box the page or the browser shows (alerts, confirmations, the
    // script-error question), with message-box types and answers; a message
    // box when unassigned. Prompts are cancelled while it is assigned.
    std::function<int(TBrimWebBrowser *Sender, const QString &Text, const QString &Caption, quint32 Type)>
        OnShowMessage;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    friend class TBrimWebBridge;
    friend class TBrimWebPage;
    friend class TBrimWebView;

    int showMessage(const QString &text, const QString &caption, quint32 type);
    void scriptError(const QVariantMap &report);
    QVariantMap invokeExternal(const QString &method, const QVariantList &args);
    bool externalAllowedFor(const QUrl &url) const;
    void updateExternal();
    void installScript();
    void applySettings();
    void stopScripts();
    void mainFrameNavigation(const QUrl &url, bool sameDocument);
    void watchKeys(QObject *object);

    TBrimWebView *m_view = nullptr;
    TBrimWebPage *m_page = nullptr;
    QWebChannel *m_channel = nullptr;
    TBrimWebBridge *m_bridge = nullptr;
    QPointer<QObject> m_external;
    QStringList m_externalMethods;
    QStringList m_externalOrigins;
    QString m_installedScript;
    QString m_maskedCtrlChars = QStringLiteral("N");
    TScriptErrorAction m_scriptErrorAction = eaAskUser;
    int m_readyState = READYSTATE_UNINITIALIZED;
    bool m_noBorder = false;
    bool m_noContextMenu = false;
    bool m_noScrollBars = false;
    bool m_noScript = false;
    bool m_scriptsStopped = false;
    bool m_asking = false;
};
