// The web view on Qt WebEngine: our URL scheme (pages from memory, the program folder's files),
// the QWebChannel bridge, silent script errors, calls into the page, and the widget binding.
#include "frontend/web_view.h"

#include <QGuiApplication>
#include <QBuffer>
#include <QImage>
#include <QPixmap>
#include <cstring>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/log.h"
#include "earth/ui/html_view_ex.h"
#include "frontend/custom_window.h"
#include "frontend/model_binding.h"
#include "frontend/widget_registry.h"
#include "platform/gfx/bitmap.h"
#include "platform/ui/ui_host.h"

namespace velmora {
namespace {

constexpr char kScheme[] = "velmora";
constexpr char kPageHost[] = "page";
// Largest file of the program folder that a page may load (a map page's script bundles).
constexpr qint64 kMaxServedFile = qint64(256) << 20;

// ---- the workers of slow sources ----------------------------------------------------------

// Two threads that answer requests of slow sources (SetSlowPageResourceSource) off the
// user-interface thread. They live as long as the module (which is never unloaded) and are
// stopped and joined at exit.
class CSlowSourceWorkers {
 public:
  static CSlowSourceWorkers& Get() {
    static CSlowSourceWorkers workers;
    return workers;
  }
  void Run(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      if (threads_.empty())
        for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { Loop(); });
      tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
  }
  ~CSlowSourceWorkers() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      tasks_.clear();
    }
    cv_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
        if (stop_) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
  std::vector<std::thread> threads_;
  bool stop_ = false;
};

// One request of a slow source: the job (user-interface thread only) and whether it was dropped.
struct SlowRequest {
  QPointer<QWebEngineUrlRequestJob> job;
  std::atomic<bool> cancelled{false};
};

// ---- the scheme handler -------------------------------------------------------------------

// Serves "velmora://page/<path>": a page held in memory under that path, else the file at that
// path when it lies under a folder that a page was loaded against. UI thread only.
class CPageSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

  void PutPage(const QString& path, QByteArray bytes) { pages_[path] = std::move(bytes); }
  void DropPage(const QString& path) { pages_.erase(path); }
  void AllowFolder(const QString& folder) { folders_.insert(QDir::cleanPath(folder) + QLatin1Char('/')); }

  void requestStarted(QWebEngineUrlRequestJob* job) override {
    const QUrl url = job->requestUrl();
    if (job->requestMethod() != "GET") {
      job->fail(QWebEngineUrlRequestJob::RequestDenied);
      return;
    }
    if (url.host() != QLatin1String(kPageHost)) {
      if (SlowPageResourceSource slow = FindSlowPageResourceSource(url.host().toStdString())) {
        AnswerLater(job, std::move(slow), url.path(QUrl::FullyDecoded).toStdString());
        return;
      }
      // Another host: the source a module registered for it (the web map's tiles), else refused.
      PageResourceSource source = FindPageResourceSource(url.host().toStdString());
      if (!source) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
      }
      std::optional<PageResource> resource = source(url.path(QUrl::FullyDecoded).toStdString());
      if (!resource) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
      }
      Reply(job, QByteArray::fromStdString(resource->mime), QByteArray::fromStdString(resource->bytes));
      return;
    }
    const QString path = QDir::cleanPath(url.path(QUrl::FullyDecoded));
    if (auto it = pages_.find(path); it != pages_.end()) {
      Reply(job, "text/html", it->second);
      return;
    }
    bool allowed = false;
    for (const QString& folder : folders_) allowed = allowed || path.startsWith(folder);
    QFileInfo info(path);
    if (!allowed || !info.isFile()) {
      job->fail(allowed ? QWebEngineUrlRequestJob::UrlNotFound : QWebEngineUrlRequestJob::RequestDenied);
      return;
    }
    QFile file(path);
    if (info.size() > kMaxServedFile || !file.open(QIODevice::ReadOnly)) {
      job->fail(QWebEngineUrlRequestJob::RequestFailed);
      return;
    }
    Reply(job, MimeOf(info.suffix().toLower()), file.readAll());
  }

 private:
  // A slow source answers on a worker; the answer comes back to this thread and goes to the job
  // unless the page dropped the request meanwhile (the job is then gone and the answer dropped).
  void AnswerLater(QWebEngineUrlRequestJob* job, SlowPageResourceSource source, std::string path) {
    auto request = std::make_shared<SlowRequest>();
    request->job = job;
    QObject::connect(job, &QObject::destroyed, [request] { request->cancelled = true; });
    CSlowSourceWorkers::Get().Run([request, source = std::move(source), path = std::move(path)] {
      std::optional<PageResource> answer;
      if (!request->cancelled) answer = source(path, request->cancelled);
      QMetaObject::invokeMethod(QCoreApplication::instance(), [request, answer = std::move(answer)] {
        QWebEngineUrlRequestJob* job = request->job.data();
        if (!job) return;  // dropped by the page
        if (!answer)
          job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        else
          Reply(job, QByteArray::fromStdString(answer->mime), QByteArray::fromStdString(answer->bytes));
      }, Qt::QueuedConnection);
    });
  }

  static void Reply(QWebEngineUrlRequestJob* job, const QByteArray& mime, const QByteArray& bytes) {
    auto* buffer = new QBuffer(job);  // lives as long as the job reads it
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(mime, buffer);
  }
  static QByteArray MimeOf(const QString& ext) {
    static const std::map<QString, QByteArray> kTypes = {
        {"html", "text/html"}, {"htm", "text/html"}, {"js", "text/javascript"}, {"css", "text/css"},
        {"json", "application/json"}, {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"},
        {"gif", "image/gif"}, {"bmp", "image/bmp"}, {"svg", "image/svg+xml"}, {"ico", "image/x-icon"},
        {"txt", "text/plain"}, {"xml", "text/xml"}, {"kml", "application/vnd.google-earth.kml+xml"},
        {"wasm", "application/wasm"}};
    auto it = kTypes.find(ext);
    return it == kTypes.end() ? QByteArray("application/octet-stream") : it->second;
  }

  std::map<QString, QByteArray> pages_;
  std::set<QString> folders_;
};

// Keeps the pages on the program's own addresses: a request to the network (a page's script
// reaching for a web service, a library's default imagery or geocoder) is blocked and logged.
class CLocalOnlyInterceptor : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QString scheme = info.requestUrl().scheme();
    if (scheme == QLatin1String(kScheme) || scheme == QLatin1String("data") || scheme == QLatin1String("blob") ||
        scheme == QLatin1String("about") || scheme == QLatin1String("qrc"))
      return;
    info.block(true);
    AppLog("web view: blocked request to %s", info.requestUrl().toString().toUtf8().constData());
  }
};

CPageSchemeHandler* g_handler = nullptr;
QWebEngineProfile* g_profile = nullptr;

// The profile of our web views: off the record (nothing written to disk), with our scheme.
QWebEngineProfile* Profile() {
  if (!g_profile) {
    g_profile = new QWebEngineProfile(QCoreApplication::instance());
    g_handler = new CPageSchemeHandler(g_profile);
    g_profile->installUrlSchemeHandler(kScheme, g_handler);
  }
  return g_profile;
}

std::atomic<int> g_next_page{1};

// The bootstrap each document gets before its own scripts: the channel's client, and the
// velmora object with postMessage/onmessage/numtext as on the script engine.
QString BootstrapScript() {
  QFile client(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  QString source;
  if (client.open(QIODevice::ReadOnly)) source = QString::fromUtf8(client.readAll());
  source += QStringLiteral(R"JS(
;(function () {
  var pending = [];
  var v = window.velmora = window.velmora || {};
  v.postMessage = function (text) { pending.push(String(text)); };
  v.numtext = function () { return Array.prototype.join.call(arguments, ","); };
  if (typeof QWebChannel === "undefined" || typeof qt === "undefined") return;
  new QWebChannel(qt.webChannelTransport, function (channel) {
    var host = channel.objects.velmora;
    v.postMessage = function (text) { host.postMessage(String(text)); };
    host.toPage.connect(function (text) { if (typeof v.onmessage === "function") v.onmessage(text); });
    for (var i = 0; i < pending.length; ++i) host.postMessage(pending[i]);
    pending = [];
    host.pageReady();
  });
})();
)JS");
  return source;
}

QJsonValue ToJson(const ScriptValue& v) {
  switch (v.type) {
    case ScriptType::kNull: return QJsonValue(QJsonValue::Null);
    case ScriptType::kBoolean: return QJsonValue(v.number != 0);
    case ScriptType::kNumber: return QJsonValue(v.number);
    case ScriptType::kString: return QJsonValue(QString::fromStdString(v.text));
    default: return QJsonValue(QJsonValue::Undefined);
  }
}

ScriptValue FromVariant(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::UnknownType: return ScriptValue::Undefined();
    case QMetaType::Nullptr: return ScriptValue::Null();
    case QMetaType::Bool: return ScriptValue::Boolean(v.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double: return ScriptValue::Number(v.toDouble());
    case QMetaType::QString: return ScriptValue::String(v.toString().toStdString());
    default: break;
  }
  ScriptValue object;
  object.type = ScriptType::kObject;
  object.text = v.toString().toStdString();
  return object;
}

}  // namespace

// ---- the page -----------------------------------------------------------------------------

namespace {

// A page whose script errors go to the log and whose boxes stay closed when it is silent.
class CSilentPage : public QWebEnginePage {
 public:
  explicit CSilentPage(QWebEngineProfile* profile) : QWebEnginePage(profile, nullptr) {}
  bool silent = false;

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                const QString& source) override {
    if (level == ErrorMessageLevel)
      AppLog("page script: %s:%d: %s", source.toUtf8().constData(), line, message.toUtf8().constData());
  }
  void javaScriptAlert(const QUrl&, const QString& message) override {
    if (!silent) ShowMessageBox(message.toStdString(), MB_OK);
  }
  bool javaScriptConfirm(const QUrl&, const QString& message) override {
    return !silent && ShowMessageBox(message.toStdString(), MB_OKCANCEL) == IDOK;
  }
  bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
};

}  // namespace

// ---- the bridge ---------------------------------------------------------------------------

void CPageBridge::Send(const QString& message) {
  if (ready_)
    emit toPage(message);
  else
    waiting_.push_back(message);
}

void CPageBridge::postMessage(const QString& message) {
  if (on_message) on_message(message.toStdString());
}

void CPageBridge::pageReady() {
  ready_ = true;
  while (!waiting_.empty()) {
    QString message = std::move(waiting_.front());
    waiting_.pop_front();
    emit toPage(message);
  }
}

// ---- the engine ---------------------------------------------------------------------------

CWebViewEngine::CWebViewEngine() {
  auto* page = new CSilentPage(Profile());
  page_ = page;
  bridge_ = new CPageBridge(page_);
  channel_ = new QWebChannel(page_);
  channel_->registerObject(QStringLiteral("velmora"), bridge_);
  page_->setWebChannel(channel_, QWebEngineScript::MainWorld);
  QWebEngineScript bootstrap;
  bootstrap.setName(QStringLiteral("velmora"));
  bootstrap.setSourceCode(BootstrapScript());
  bootstrap.setInjectionPoint(QWebEngineScript::DocumentCreation);
  bootstrap.setWorldId(QWebEngineScript::MainWorld);
  bootstrap.setRunsOnSubFrames(false);
  page_->scripts().insert(bootstrap);

  std::weak_ptr<bool> alive = alive_;
  QObject::connect(page_, &QWebEnginePage::loadStarted, page_, [this] { bridge_->Reset(); });
  QObject::connect(page_, &QWebEnginePage::loadFinished, page_, [this, alive](bool ok) {
    if (alive.expired()) return;
    if (!ok) {
      AppLog("page %s did not load", url_.c_str());
      return;
    }
    loaded_ = true;
    if (events_.document_complete) events_.document_complete(url_);
  });
  bridge_->on_message = [this, alive](const std::string& message) {
    if (!alive.expired() && events_.page_message) events_.page_message(message);
  };
}

CWebViewEngine::~CWebViewEngine() {
  alive_.reset();
  if (g_handler && !page_path_.empty()) g_handler->DropPage(QString::fromStdString(page_path_));
  delete page_;  // with its bridge and channel
}

void CWebViewEngine::SetEvents(HtmlEngineEvents events) { events_ = std::move(events); }

bool CWebViewEngine::LoadPage(const std::string& page, const std::string& base_folder) {
  QString folder = QDir::cleanPath(QString::fromStdString(base_folder.empty() ? "/" : base_folder));
  if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
  // A new path for every page, so that the web engine never answers from an older one.
  const QString path = folder + QStringLiteral(".velmora-page-%1.html").arg(g_next_page++);
  Profile();
  if (!page_path_.empty()) g_handler->DropPage(QString::fromStdString(page_path_));
  g_handler->PutPage(path, QByteArray::fromStdString(page));
  g_handler->AllowFolder(folder);
  page_path_ = path.toStdString();
  QUrl url;
  url.setScheme(QString::fromLatin1(kScheme));
  url.setHost(QString::fromLatin1(kPageHost));
  url.setPath(path);
  url_ = "about:blank";  // a page from memory completes as one loaded from a stream does
  loaded_ = false;
  page_->load(url);
  return true;
}

bool CWebViewEngine::Navigate(const std::string& address) {
  QUrl url = address.rfind("about:", 0) == 0 ? QUrl(QStringLiteral("about:blank"))
                                              : QUrl::fromUserInput(QString::fromStdString(address));
  if (!url.isValid()) return false;
  url_ = address;
  loaded_ = false;
  page_->load(url);
  return true;
}

void CWebViewEngine::Clear() {
  loaded_ = false;
  page_->load(QUrl(QStringLiteral("about:blank")));
}

bool CWebViewEngine::HasDocument() const { return loaded_; }

void CWebViewEngine::SetSilent(bool silent) { static_cast<CSilentPage*>(page_)->silent = silent; }

int CWebViewEngine::FindFunction(const std::string&) { return 0; }

bool CWebViewEngine::CallFunction(int, std::span<const ScriptValue>, ScriptValue*) { return false; }

void CWebViewEngine::CallFunctionAsync(const std::string& name, std::vector<ScriptValue> args,
                                       std::function<void(std::optional<ScriptValue>)> done) {
  QJsonArray list;
  for (const ScriptValue& a : args) list.append(ToJson(a));
  const QString path = QString::fromUtf8(QJsonDocument(QJsonArray{QString::fromStdString(name)}).toJson(QJsonDocument::Compact));
  const QString values = QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
  // The function is found by its dotted path; an object reply comes back as its text, a thrown
  // error as {__error}.
  const QString script = QStringLiteral(
                             "(function () { try {"
                             " var names = %1[0].split('.'), self = window, f = window;"
                             " for (var i = 0; i < names.length; ++i) { self = f; f = f == null ? undefined : f[names[i]]; }"
                             " if (typeof f !== 'function') return {__error: 'not a function'};"
                             " var r = f.apply(self, %2);"
                             " if (r !== null && (typeof r === 'object' || typeof r === 'function')) return {__text: String(r)};"
                             " return r === undefined ? {__undefined: true} : r;"
                             " } catch (e) { return {__error: String(e)}; } })()")
                             .arg(path, values);
  std::weak_ptr<bool> alive = alive_;
  page_->runJavaScript(script, QWebEngineScript::MainWorld, [alive, done = std::move(done)](const QVariant& result) {
    if (alive.expired() || !done) return;
    const QVariantMap map = result.toMap();
    if (result.typeId() == QMetaType::QVariantMap) {
      if (map.contains(QStringLiteral("__error"))) {
        AppLog("page call failed: %s", map.value(QStringLiteral("__error")).toString().toUtf8().constData());
        done(std::nullopt);
        return;
      }
      if (map.contains(QStringLiteral("__undefined"))) {
        done(ScriptValue::Undefined());
        return;
      }
      if (map.contains(QStringLiteral("__text"))) {
        ScriptValue object;
        object.type = ScriptType::kObject;
        object.text = map.value(QStringLiteral("__text")).toString().toStdString();
        done(object);
        return;
      }
    }
    done(FromVariant(result));
  });
}

void CWebViewEngine::PostToPage(const std::string& message) { bridge_->Send(QString::fromStdString(message)); }

void CWebViewEngine::SetLocalOnly(bool local_only) {
  page_->setUrlRequestInterceptor(local_only ? new CLocalOnlyInterceptor(page_) : nullptr);
}

bool CWebViewEngine::CanDrawWebGl() const {
  // The offscreen platform has no OpenGL context for the web engine: its pages report no WebGL.
  return QGuiApplication::platformName() != QLatin1String("offscreen");
}

bool CWebViewEngine::GrabPicture(CBitmap* out) {
  QWebEngineView* view = QWebEngineView::forPage(page_);
  if (!view || !view->isVisible() || view->width() <= 0 || view->height() <= 0) return false;
  // The widget's own pixels (device pixel ratio 1): what the page shows, as one picture.
  QImage image = view->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  if (image.isNull() || image.width() > CBitmap::kMaxSide || image.height() > CBitmap::kMaxSide) return false;
  if (!out->CreateForOverwrite(image.width(), image.height())) return false;
  for (int y = 0; y < image.height(); ++y)
    std::memcpy(out->Row(y), image.constScanLine(y), out->Stride());
  return true;
}

// ---- the widget ---------------------------------------------------------------------------

namespace {

// Shows a view's document in a QWebEngineView. The page belongs to the engine (the model's), so
// the widget going away leaves the document as it is. A click reaches the model as
// WM_MOUSEACTIVATE, as the platform sends it before the click itself.
class CWebViewBinding : public CModelBinding {
 public:
  CWebViewBinding(CHtmlViewEx& view, CWebViewEngine& engine, QWidget* parent)
      : CModelBinding(view, Make(engine, parent)) {
    Widget()->installEventFilter(this);
    if (QWidget* proxy = Widget()->focusProxy()) proxy->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    // A view that takes the page's mouse gets it (in the page's pixels) and the page never does.
    if (auto* html = dynamic_cast<CHtmlViewEx*>(Model()); html && event->type() != QEvent::ChildAdded) {
      if (CWnd* taker = html->MouseTaker()) {
        switch (event->type()) {
          case QEvent::MouseMove: SendMouseMove(*taker, static_cast<QMouseEvent*>(event)); return true;
          case QEvent::MouseButtonPress: SendMousePress(*taker, static_cast<QMouseEvent*>(event), false); return true;
          case QEvent::MouseButtonDblClick: SendMousePress(*taker, static_cast<QMouseEvent*>(event), true); return true;
          case QEvent::MouseButtonRelease: SendMouseRelease(*taker, static_cast<QMouseEvent*>(event)); return true;
          case QEvent::Wheel: SendWheel(*taker, static_cast<QWheelEvent*>(event)); return true;
          default: break;
        }
      }
    }
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::ChildAdded) {
      if (event->type() == QEvent::ChildAdded) {
        // The web engine puts its render widget in later: watch it too.
        if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child()))
          child->installEventFilter(this);
      } else if (CWnd* model = Model()) {
        CWnd* top = model;
        while (top->GetParent()) top = top->GetParent();
        auto* mouse = static_cast<QMouseEvent*>(event);
        UINT button = mouse->button() == Qt::RightButton ? WM_RBUTTONDOWN
                      : mouse->button() == Qt::MiddleButton ? WM_MBUTTONDOWN
                                                            : WM_LBUTTONDOWN;
        model->SendMessage(WM_MOUSEACTIVATE, top->GetSafeHwnd(), MAKELPARAM(1 /*client area*/, static_cast<int>(button)));
      }
    }
    return CModelBinding::eventFilter(watched, event);
  }

 private:
  static QWidget* Make(CWebViewEngine& engine, QWidget* parent) {
    auto* view = new QWebEngineView(parent);
    view->setPage(engine.Page());
    return view;
  }
};

}  // namespace

namespace {

// Registered once, when the module is loaded: before the first profile, as the engine requires.
void RegisterPageScheme() {
  QWebEngineUrlScheme scheme(kScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalAccessAllowed |
                  QWebEngineUrlScheme::CorsEnabled);
  QWebEngineUrlScheme::registerScheme(scheme);
}

std::unique_ptr<IHtmlDocumentEngine> MakeEngine() { return std::make_unique<CWebViewEngine>(); }

CModelBinding* MakeBinding(CHtmlViewEx& view, QWidget* parent) {
  auto* engine = dynamic_cast<CWebViewEngine*>(&view.Engine());
  return engine ? new CWebViewBinding(view, *engine, parent) : nullptr;  // pages nobody sees pass
}

}  // namespace

}  // namespace velmora

extern "C" const velmora::WebViewModule* velmora_web_view_module() {
  static const velmora::WebViewModule module = [] {
    velmora::RegisterPageScheme();
    return velmora::WebViewModule{&velmora::MakeEngine, &velmora::MakeBinding};
  }();
  return &module;
}
