// The web view of pages people see: the document engine of CHtmlViewEx on Qt WebEngine, and the
// widget that shows it.
//
// Pages held in memory are served through a URL scheme of ours ("velmora://page/..."), not
// setHtml (which refuses pages over 2 MB and gives the page no base address): a page loaded from
// memory gets the address "velmora://page<program folder>.velmora-page-<n>.html", so that its
// references to the program folder's files (absolute, as "$$ROOT_DATA$$" makes them, or relative)
// are served by the same handler. Only files under a folder that a page was loaded against are
// served. Other hosts ("velmora://tile/...") are answered by the source a module registered for
// them (SetPageResourceSource).
//
// The two-way bridge is a QWebChannel with one object, "velmora". Page scripts use the same
// names as on the script engine: velmora.postMessage(text) reaches the view's OnPageMessage,
// and the view's PostToPage(text) calls the page's velmora.onmessage(text) (messages posted
// before the page's channel is up wait for it). Script errors go to the log; a silent view
// shows no alert, confirm or prompt box either.
#pragma once
#include <QObject>
#include <QString>
#include <QWebEngineUrlSchemeHandler>
#include <deque>
#include <memory>
#include <string>

#include "earth/ui/html_document_engine.h"
#include "frontend/web_view_module.h"

class QWebChannel;
class QWebEnginePage;
class QWebEngineProfile;

namespace velmora {


// The page's side of the bridge, registered in the channel as "velmora".
class CPageBridge : public QObject {
  Q_OBJECT
 public:
  explicit CPageBridge(QObject* parent = nullptr) : QObject(parent) {}
  // Messages to the page; held until the page's channel is up.
  void Send(const QString& message);
  // A new document is loading: its channel is not up yet.
  void Reset() { ready_ = false; }
  std::function<void(const std::string&)> on_message;

 public slots:
  void postMessage(const QString& message);
  void pageReady();

 signals:
  void toPage(const QString& message);

 private:
  bool ready_ = false;
  std::deque<QString> waiting_;
};

class CWebViewEngine : public IHtmlDocumentEngine {
 public:
  CWebViewEngine();
  ~CWebViewEngine() override;

  void SetEvents(HtmlEngineEvents events) override;
  bool LoadPage(const std::string& page, const std::string& base_folder) override;
  bool Navigate(const std::string& url) override;
  void Clear() override;
  bool HasDocument() const override;
  void SetSilent(bool silent) override;
  // Calls into a web page are asynchronous: no references, no synchronous calls.
  int FindFunction(const std::string& name) override;
  using IHtmlDocumentEngine::CallFunction;
  bool CallFunction(int ref, std::span<const ScriptValue> args, ScriptValue* reply) override;
  void CallFunctionAsync(const std::string& name, std::vector<ScriptValue> args,
                         std::function<void(std::optional<ScriptValue>)> done) override;
  void PostToPage(const std::string& message) override;
  bool CanGrab() const override { return true; }
  bool CanDrawWebGl() const override;
  bool GrabPicture(CBitmap* out) override;
  void SetLocalOnly(bool local_only) override;

  // The document, for the widget that shows it.
  QWebEnginePage* Page() const { return page_; }
  // The address of the current document ("" before the first load).
  const std::string& Url() const { return url_; }

 private:
  QWebEnginePage* page_ = nullptr;
  QWebChannel* channel_ = nullptr;
  CPageBridge* bridge_ = nullptr;
  HtmlEngineEvents events_;
  std::string url_;
  std::string page_path_;  // the in-memory page this engine holds in the scheme handler
  bool loaded_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora

