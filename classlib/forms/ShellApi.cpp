#include "classlib/forms/ShellApi.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTreeView>
#include <QVBoxLayout>
#include <atomic>
#include <deque>
#include <filesystem>
#include <system_error>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/GraphicsImpl.h"
#include "classlib/forms/QtText.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {
namespace {

bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

// The toolkit's tray icons, one per key.
class QtTrayBackend : public TTrayBackend {
 public:
  bool Available() override { return QSystemTrayIcon::isSystemTrayAvailable(); }
  bool ReportsDoubleClicks() override {
    // The toolkit picks its tray once per process, so the answer is asked once too.
    static const bool reports =
        ToolkitTrayReportsDoubleClicks(QGuiApplication::platformName().toStdString());
    return reports;
  }
  bool Add(uint64_t key, const TIcon& icon, const std::string& tip) override {
    if (icons_.count(key) != 0) return false;
    auto* tray = new QSystemTrayIcon;
    tray->setIcon(QIcon(QPixmap::fromImage(IconImage(icon))));
    tray->setToolTip(ToQString(tip));
    QObject::connect(tray, &QSystemTrayIcon::activated, tray,
                     [this, key](QSystemTrayIcon::ActivationReason reason) {
                       if (!on_action) return;
                       switch (reason) {
                         case QSystemTrayIcon::Trigger:
                           on_action(key, TTrayAction::kTrigger);
                           break;
                         case QSystemTrayIcon::Context:
                           on_action(key, TTrayAction::kContext);
                           break;
                         case QSystemTrayIcon::DoubleClick:
                           on_action(key, TTrayAction::kDoubleClick);
                           break;
                         case QSystemTrayIcon::MiddleClick:
                           on_action(key, TTrayAction::kMiddleClick);
                           break;
                         default:
                           break;
                       }
                     });
    tray->show();
    icons_[key] = tray;
    return true;
  }
  bool Modify(uint64_t key, const TIcon* icon, const std::string* tip) override {
    auto it = icons_.find(key);
    if (it == icons_.end()) return false;
    if (icon != nullptr) it->second->setIcon(QIcon(QPixmap::fromImage(IconImage(*icon))));
    if (tip != nullptr) it->second->setToolTip(ToQString(*tip));
    return true;
  }
  bool Remove(uint64_t key) override {
    auto it = icons_.find(key);
    if (it == icons_.end()) return false;
    it->second->hide();
    it->second->deleteLater();
    icons_.erase(it);
    return true;
  }

 private:
  std::map<uint64_t, QSystemTrayIcon*> icons_;
};

struct TrayOperation {
  uint32_t message;
  TNotifyIconData data;
};

// The queue between callers on any thread and the backend on the GUI thread.
class TrayService {
 public:
  TrayService() { Use(nullptr); }

  void Use(TTrayBackend* backend) {
    backend_ = backend != nullptr ? backend : &qt_;
    backend_->on_action = [this](uint64_t key, TTrayAction action) { Deliver(key, action); };
  }

  bool Call(uint32_t message, const TNotifyIconData& data) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      pending_.push_back(TrayOperation{message, data});
    }
    if (OnGuiThread()) return Drain();
    if (TEventLoop* loop = CurrentEventLoop()) {
      loop->Post([this] { Drain(); });
      return available_.load();
    }
    return false;
  }

  bool Available() {
    if (!OnGuiThread()) return available_.load();
    available_ = backend_->Available();
    return available_.load();
  }

 private:
  // Applies every queued call in order; returns the result of the last.
  bool Drain() {
    bool result = false;
    for (;;) {
      TrayOperation op;
      {
        std::lock_guard<std::mutex> guard(mutex_);
        if (pending_.empty()) return result;
        op = std::move(pending_.front());
        pending_.pop_front();
      }
      result = Apply(op);
    }
  }

  bool Apply(const TrayOperation& op) {
    const TNotifyIconData& d = op.data;
    const uint64_t key = TrayKey(d.Wnd, d.ID);
    available_ = backend_->Available();
    switch (op.message) {
      case NIM_ADD:
        if (!available_) return false;
        if (!backend_->Add(key, d.Icon, (d.Flags & NIF_TIP) ? d.Tip : std::string())) {
          return false;
        }
        callbacks_[key] = (d.Flags & NIF_MESSAGE) ? d.CallbackMessage : 0;
        return true;
      case NIM_MODIFY:
        if (callbacks_.count(key) == 0) return false;
        if (d.Flags & NIF_MESSAGE) callbacks_[key] = d.CallbackMessage;
        return backend_->Modify(key, (d.Flags & NIF_ICON) ? &d.Icon : nullptr,
                                (d.Flags & NIF_TIP) ? &d.Tip : nullptr);
      case NIM_DELETE:
        callbacks_.erase(key);
        return backend_->Remove(key);
      default:
        return false;
    }
  }

  void Deliver(uint64_t key, TTrayAction action) {
    auto it = callbacks_.find(key);
    if (it == callbacks_.end() || it->second == 0) return;
    const HWND wnd = static_cast<HWND>(key >> 32);
    const uint32_t id = static_cast<uint32_t>(key);
    for (uint32_t mouse : TrayActionMessages(action, backend_->ReportsDoubleClicks())) {
      PostMessage(wnd, it->second, id, static_cast<LPARAM>(mouse));
    }
  }

  std::mutex mutex_;
  std::deque<TrayOperation> pending_;
  std::atomic<bool> available_{false};
  std::map<uint64_t, uint32_t> callbacks_;  // GUI thread
  TTrayBackend* backend_ = nullptr;         // GUI thread
  QtTrayBackend qt_;
};

TrayService& Tray() {
  static TrayService* service = new TrayService;
  return *service;
}

// ---- The folder dialog ------------------------------------------------------------------------

std::string Normalized(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsDirectory(const std::string& cp1252_path) {
  std::error_code error;
  return !cp1252_path.empty() && std::filesystem::is_directory(Cp1252ToUtf8(cp1252_path), error);
}

TFolderDialogControl* g_active_folder_dialog = nullptr;

class FolderDialog : public QDialog, public TFolderDialogControl {
 public:
  FolderDialog(const TBrowseFolderOptions& options, bool allow_create)
      : options_(options), allow_create_(allow_create) {
    setWindowTitle(QString::fromUtf8("Rechercher un dossier"));
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(ToQString(options.text));
    text_->setWordWrap(true);
    layout->addWidget(text_);
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath("/");
    tree_ = new QTreeView;
    tree_->setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
    tree_->setHeaderHidden(true);
    if (!options.desktop_root) tree_->setRootIndex(model_->index("/"));
    layout->addWidget(tree_);
    if (allow_create_) {
      edit_ = new QLineEdit;
      RefuseNonCp1252(edit_);
      layout->addWidget(edit_);
      QObject::connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) {
        selection_ = Normalized(FromQString(text));
        UpdateOK();
      });
    }
    auto* buttons = new QHBoxLayout;
    if (options.help_context != 0) {
      help_ = new QPushButton(QString::fromUtf8("&Aide"));
      buttons->addWidget(help_);
    }
    buttons->addStretch();
    ok_ = new QPushButton("OK");
    ok_->setDefault(true);
    auto* cancel = new QPushButton("Annuler");
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    QObject::connect(ok_, &QPushButton::clicked, this, [this] { Accept(); });
    QObject::connect(cancel, &QPushButton::clicked, this, [this] { Cancel(); });
    QObject::connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
                     [this](const QModelIndex& index) {
                       if (setting_) return;
                       selection_ = Normalized(FromQString(model_->filePath(index)));
                       SelectionChanged();
                     });
    resize(320, 360);
  }

  std::string Selection() const override { return selection_; }
  void SetSelection(const std::string& path) override {
    selection_ = Normalized(path);
    if (IsDirectory(selection_)) {
      setting_ = true;
      tree_->setCurrentIndex(model_->index(QString::fromUtf8(Cp1252ToUtf8(selection_).c_str())));
      setting_ = false;
    }
    if (edit_ != nullptr) edit_->setText(ToQString(selection_));
    SelectionChanged();
  }
  void EnableOK(bool enabled) override { ok_->setEnabled(enabled); }
  bool OKEnabled() const override { return ok_->isEnabled(); }
  bool HasHelpButton() const override { return help_ != nullptr; }
  std::string RootPath() const override {
    const QModelIndex root = tree_->rootIndex();
    return root.isValid() ? FromQString(model_->filePath(root)) : std::string();
  }
  std::string Text() const override { return options_.text; }
  void Accept() override {
    if (ok_->isEnabled()) done(QDialog::Accepted);
  }
  void Cancel() override { done(QDialog::Rejected); }

  bool Run(std::string& folder) {
    selection_.clear();
    ok_->setEnabled(false);
    if (options_.center) {
      if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move((area.width() - width()) / 2, (area.height() - height()) / 2);
      }
    }
    if (IsDirectory(Normalized(options_.folder))) SetSelection(options_.folder);
    if (options_.on_initialized) {
      auto handler = options_.on_initialized;
      CallGuarded(nullptr, [&] { handler(*this); });
    }
    // Not the toolkit's modality: the tray's window stays live, as with every modal form.
    TFolderDialogControl* outer = g_active_folder_dialog;
    g_active_folder_dialog = this;
    QEventLoop loop;
    QObject::connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    StartModalAction();
    loop.exec();
    g_active_folder_dialog = outer;
    if (result() != QDialog::Accepted) return false;
    folder = selection_;
    return true;
  }

 private:
  void UpdateOK() {
    ok_->setEnabled(IsDirectory(selection_) || (allow_create_ && !selection_.empty()));
  }
  void SelectionChanged() {
    UpdateOK();
    if (options_.on_sel_changed) {
      auto handler = options_.on_sel_changed;
      CallGuarded(nullptr, [&] { handler(*this); });
    }
  }

  TBrowseFolderOptions options_;
  bool allow_create_;
  QLabel* text_ = nullptr;
  QFileSystemModel* model_ = nullptr;
  QTreeView* tree_ = nullptr;
  QLineEdit* edit_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* help_ = nullptr;
  std::string selection_;
  bool setting_ = false;
};

}  // namespace

uint64_t TrayKey(HWND wnd, uint32_t id) { return (static_cast<uint64_t>(wnd) << 32) | id; }

bool ToolkitTrayReportsDoubleClicks(const std::string& platform_name) {
  if (platform_name != "xcb") return false;
  // The same question the toolkit asks before it chooses: a bus is not enough, a watcher must
  // be registered on it for the icon to go to a StatusNotifierItem host.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || bus.interface() == nullptr) return true;
  return !bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

std::vector<uint32_t> TrayActionMessages(TTrayAction action, bool host_reports_double_clicks) {
  switch (action) {
    case TTrayAction::kTrigger:
      if (!host_reports_double_clicks) return {WM_LBUTTONDBLCLK};
      return {WM_LBUTTONDOWN, WM_LBUTTONUP};
    case TTrayAction::kContext:
      return {WM_RBUTTONDOWN, WM_RBUTTONUP};
    case TTrayAction::kDoubleClick:
      return {WM_LBUTTONDBLCLK};
    case TTrayAction::kMiddleClick:
      return {WM_MBUTTONDOWN, WM_MBUTTONUP};
  }
  return {};
}

bool Shell_NotifyIcon(uint32_t message, const TNotifyIconData& data) {
  return Tray().Call(message, data);
}

bool NotifyIconAvailable() { return Tray().Available(); }

void SetTrayBackend(TTrayBackend* backend) { Tray().Use(backend); }

bool TFakeTrayBackend::Add(uint64_t key, const TIcon& icon, const std::string& tip) {
  if (icons.count(key) != 0) return false;
  icons[key] = Icon{icon, tip};
  log.push_back("add " + std::to_string(static_cast<uint32_t>(key)) + " " + tip);
  return true;
}

bool TFakeTrayBackend::Modify(uint64_t key, const TIcon* icon, const std::string* tip) {
  auto it = icons.find(key);
  if (it == icons.end()) return false;
  if (icon != nullptr) it->second.icon = *icon;
  if (tip != nullptr) it->second.tip = *tip;
  log.push_back("modify " + std::to_string(static_cast<uint32_t>(key)) + " " + it->second.tip);
  return true;
}

bool TFakeTrayBackend::Remove(uint64_t key) {
  log.push_back("delete " + std::to_string(static_cast<uint32_t>(key)));
  return icons.erase(key) != 0;
}

void TFakeTrayBackend::Act(HWND wnd, uint32_t id, TTrayAction action) {
  if (on_action) on_action(TrayKey(wnd, id), action);
}

TFolderDialogControl* ActiveFolderDialog() { return g_active_folder_dialog; }

bool BrowseForFolder(const TBrowseFolderOptions& options, std::string& folder, int* image_index) {
  if (options.kind == bfComputers) return false;
  FolderDialog dialog(options, false);
  if (!dialog.Run(folder)) return false;
  if (image_index != nullptr) *image_index = FolderImageIndex(folder);
  return true;
}

int FolderImageIndex(const std::string& path) {
  if (path == "/") return fiDrive;
  return path == Normalized(FromQString(QDir::homePath())) ? fiHome : fiFolder;
}

bool SelectDirectory(std::string& directory, TSelectDirOpts options, int help_context) {
  TBrowseFolderOptions browse;
  browse.folder = directory;
  browse.help_context = help_context;
  FolderDialog dialog(browse, options.Contains(sdAllowCreate));
  std::string chosen;
  if (!dialog.Run(chosen)) return false;
  if (!IsDirectory(chosen)) {
    if (options.Contains(sdPrompt) &&
        MessageDlg("Le r\xE9pertoire \"" + chosen +
                       "\" n'existe pas. Voulez-vous le cr\xE9"
                       "er ?",
                   mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, 0) != mrYes) {
      return false;
    }
    if (options.Contains(sdPerformCreate)) {
      std::error_code error;
      std::filesystem::create_directories(Cp1252ToUtf8(chosen), error);
      if (error || !IsDirectory(chosen)) {
        throw Exception(
            "Impossible de cr\xE9"
            "er le r\xE9pertoire \"" +
            chosen + "\"");
      }
    }
  }
  directory = chosen;
  return true;
}

}  // namespace cl
