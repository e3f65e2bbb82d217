#include "shell/XVBrowserCommands.h"

#include <QAction>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

#include "shell/XVControls.h"

namespace {

using Command = XVBrowserCommands::Command;

struct Spec {
  const char* text;
  const char* image;  // the toolbar icon; none for the commands of the two-state buttons
};

// In the order of Command.
constexpr Spec kSpecs[XVBrowserCommands::kCommandCount] = {
    {"First Page", "pic_btn_first"},
    {"Previous Page", "pic_btn_previous"},
    {"Next Page", "pic_btn_next"},
    {"Last Page", "pic_btn_last"},
    {"Zoom In", "pic_btn_zoom_in"},
    {"Zoom Out", "pic_btn_zoom_out"},
    {"Actual Size", nullptr},
    {"Fit Width", nullptr},
    {"Rotate Left", "pic_btn_rotate_left"},
    {"Rotate Right", "pic_btn_rotate_right"},
    {"Rotate All Pages Left", "pic_btn_rotate_all_left"},
    {"Rotate All Pages Right", "pic_btn_rotate_all_right"},
    {"Show Thumbnails", nullptr},
    {"Two Pages", nullptr},
    {"Continuous", nullptr},
    {"Find...", nullptr},
    {"Print...", "pic_btn_print"},
    {"Add Bookmark...", "pic_btn_bookmark"},
    {"Bookmark Manager...", nullptr},
    {"Save As...", "pic_btn_save"},
    {"Extract Images...", "pic_btn_extract"},
    {"Close Tab", nullptr},
    {"Previous Tab", nullptr},
    {"Next Tab", nullptr},
};

XVChangeButton* makeChangeButton(QWidget* parent, const char* tip, const char* onN, const char* onP, const char* offN,
                                 const char* offP) {
  auto* b = new XVChangeButton(parent);
  b->setToolTip(QString::fromLatin1(tip));
  b->setOnNormalImage(XVImageNamed(QString::fromLatin1(onN)), onP ? XVImageNamed(QString::fromLatin1(onP)) : QPixmap());
  b->setOffNormalImage(XVImageNamed(QString::fromLatin1(offN)), offP ? XVImageNamed(QString::fromLatin1(offP)) : QPixmap());
  return b;
}

}  // namespace

ImportInterface::Capabilities XVBrowserCommands::capabilityFor(Command command) {
  using I = ImportInterface;
  switch (command) {
    case Command::FirstPage:
    case Command::PreviousPage:
    case Command::NextPage:
    case Command::LastPage: return I::PageNavigation;
    case Command::ZoomIn:
    case Command::ZoomOut:
    case Command::ZoomOriginal:
    case Command::ZoomStretch: return I::Zoom;
    case Command::RotateLeft:
    case Command::RotateRight:
    case Command::RotateAllLeft:
    case Command::RotateAllRight: return I::Rotation;
    case Command::ShowThumbnails: return I::ThumbnailList;
    case Command::OneOrTwoPage:
    case Command::PageContinue: return I::PageLayouts;
    case Command::Find: return I::Search;
    case Command::Print: return I::Print;
    case Command::AddBookmark: return I::Bookmarks;
    case Command::EditBookmarks:
    case Command::SaveAs:
    case Command::ExtractImages:
    case Command::CloseTab:
    case Command::PreviousTab:
    case Command::NextTab: return {};
  }
  return {};
}

bool XVBrowserCommands::isEnabled(Command command, const State& state) {
  const auto needs = capabilityFor(command);
  switch (command) {
    case Command::EditBookmarks: return true;  // the manager lists every document's bookmarks
    case Command::AddBookmark: return state.menu && (state.capabilities & needs) == needs;
    case Command::SaveAs: return state.menu && state.saveFormats && state.saveAsWired;
    case Command::ExtractImages: return state.menu && state.extractFormats && state.extractImagesWired;
    case Command::CloseTab: return state.tabs > 0;
    case Command::PreviousTab:
    case Command::NextTab: return state.tabs > 1;
    default: return state.toolbar && (state.capabilities & needs) == needs;
  }
}

QKeySequence XVBrowserCommands::keyFor(Command command) {
  // Spelled out: a standard key is empty where the platform has no theme for it (Save As on
  // a plain X session).
  switch (command) {
    case Command::FirstPage: return QKeySequence(Qt::CTRL | Qt::Key_Home);
    case Command::PreviousPage: return QKeySequence(Qt::ALT | Qt::Key_Left);
    case Command::NextPage: return QKeySequence(Qt::ALT | Qt::Key_Right);
    case Command::LastPage: return QKeySequence(Qt::CTRL | Qt::Key_End);
    case Command::ZoomIn: return QKeySequence(Qt::CTRL | Qt::Key_Plus);
    case Command::ZoomOut: return QKeySequence(Qt::CTRL | Qt::Key_Minus);
    case Command::ZoomOriginal: return QKeySequence(Qt::CTRL | Qt::Key_0);
    case Command::ZoomStretch: return QKeySequence(Qt::Key_W);
    case Command::RotateLeft: return QKeySequence(Qt::CTRL | Qt::Key_Left);
    case Command::RotateRight: return QKeySequence(Qt::CTRL | Qt::Key_Right);
    case Command::RotateAllLeft: return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Left);
    case Command::RotateAllRight: return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Right);
    case Command::ShowThumbnails: return QKeySequence(Qt::Key_F9);
    case Command::Find: return QKeySequence(Qt::CTRL | Qt::Key_F);
    case Command::Print: return QKeySequence(Qt::CTRL | Qt::Key_P);
    case Command::SaveAs: return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    case Command::CloseTab: return QKeySequence(Qt::CTRL | Qt::Key_W);
    case Command::PreviousTab: return QKeySequence(Qt::CTRL | Qt::Key_PageUp);
    case Command::NextTab: return QKeySequence(Qt::CTRL | Qt::Key_PageDown);
    default: return {};
  }
}

QList<QKeySequence> XVBrowserCommands::withStandardKeys(const QKeySequence& key, QKeySequence::StandardKey standard) {
  QList<QKeySequence> keys;
  if (!key.isEmpty()) keys << key;
  if (standard == QKeySequence::UnknownKey) return keys;
  for (const QKeySequence& k : QKeySequence::keyBindings(standard))
    if (!k.isEmpty() && !keys.contains(k)) keys << k;
  return keys;
}

QList<QKeySequence> XVBrowserCommands::shortcutsFor(Command command) {
  switch (command) {
    case Command::FirstPage: return withStandardKeys(keyFor(command), QKeySequence::MoveToStartOfDocument);
    case Command::PreviousPage: return withStandardKeys(keyFor(command), QKeySequence::Back);
    case Command::NextPage: return withStandardKeys(keyFor(command), QKeySequence::Forward);
    case Command::LastPage: return withStandardKeys(keyFor(command), QKeySequence::MoveToEndOfDocument);
    case Command::ZoomIn: {
      // Ctrl+= too: the plus key without Shift on many keyboards.
      QList<QKeySequence> keys = withStandardKeys(keyFor(command), QKeySequence::ZoomIn);
      if (const QKeySequence equal(Qt::CTRL | Qt::Key_Equal); !keys.contains(equal)) keys << equal;
      return keys;
    }
    case Command::ZoomOut: return withStandardKeys(keyFor(command), QKeySequence::ZoomOut);
    case Command::Find: return withStandardKeys(keyFor(command), QKeySequence::Find);
    case Command::Print: return withStandardKeys(keyFor(command), QKeySequence::Print);
    case Command::SaveAs: return withStandardKeys(keyFor(command), QKeySequence::SaveAs);
    default: return withStandardKeys(keyFor(command), QKeySequence::UnknownKey);
  }
}

XVBrowserCommands::XVBrowserCommands(QWidget* owner) : QObject(owner) {
  for (int i = 0; i < kCommandCount; ++i) {
    const auto command = static_cast<Command>(i);
    auto* a = new QAction(QString::fromLatin1(kSpecs[i].text), owner);
    if (kSpecs[i].image) a->setIcon(QIcon(XVImageNamed(QString::fromLatin1(kSpecs[i].image))));
    a->setShortcuts(shortcutsFor(command));
    byCommand_[static_cast<size_t>(i)] = a;
  }
  Actions& A = actions_;
  A.firstPage = action(Command::FirstPage);
  A.previousPage = action(Command::PreviousPage);
  A.nextPage = action(Command::NextPage);
  A.lastPage = action(Command::LastPage);
  A.zoomIn = action(Command::ZoomIn);
  A.zoomOut = action(Command::ZoomOut);
  A.zoomOriginal = action(Command::ZoomOriginal);
  A.zoomStretch = action(Command::ZoomStretch);
  A.rotateLeft = action(Command::RotateLeft);
  A.rotateRight = action(Command::RotateRight);
  A.rotateAllLeft = action(Command::RotateAllLeft);
  A.rotateAllRight = action(Command::RotateAllRight);
  A.showThumbnails = action(Command::ShowThumbnails);
  A.oneOrTwoPage = action(Command::OneOrTwoPage);
  A.pageContinue = action(Command::PageContinue);
  A.find = action(Command::Find);
  A.print = action(Command::Print);
  A.addBookmark = action(Command::AddBookmark);
  A.editBookmarks = action(Command::EditBookmarks);
  A.saveAs = action(Command::SaveAs);
  A.extractImages = action(Command::ExtractImages);
  A.closeTab = action(Command::CloseTab);
  A.previousTab = action(Command::PreviousTab);
  A.nextTab = action(Command::NextTab);

  // Two-state buttons; their menu commands click them, so state and command stay together.
  tbtView_ = makeChangeButton(owner, "Thumbnails", "pic_btn_view1_n", "pic_btn_view1_p", "pic_btn_view2_n", "pic_btn_view2_p");
  tbtPage_ = makeChangeButton(owner, "Single or Two Pages", "pic_btn_page_two_n", "pic_btn_page_two_p", "pic_btn_page_one_n",
                              "pic_btn_page_one_p");
  tbtContinue_ = makeChangeButton(owner, "Continuous", "pic_btn_page_continue_p", nullptr, "pic_btn_page_continue_n", nullptr);
  tbtGZoomOriginal_ =
      makeChangeButton(owner, "Actual Size", "pic_btn_zoom_ original_p", nullptr, "pic_btn_zoom_ original_n", nullptr);
  tbtGStretch_ = makeChangeButton(owner, "Fit Width", "btn_zoom_ stretch_width_p", nullptr, "btn_zoom_ stretch_width_n", nullptr);
  const std::pair<Command, XVChangeButton*> buttons[] = {{Command::ShowThumbnails, tbtView_},
                                                         {Command::OneOrTwoPage, tbtPage_},
                                                         {Command::PageContinue, tbtContinue_},
                                                         {Command::ZoomOriginal, tbtGZoomOriginal_},
                                                         {Command::ZoomStretch, tbtGStretch_}};
  for (const auto& [command, button] : buttons) {
    connect(button, &QToolButton::clicked, this, [this, command = command] { emit commandTriggered(command); });
    connect(action(command), &QAction::triggered, button, &QAbstractButton::click);
  }
  // The check marks follow the buttons, whoever sets them. The thumbnail button is on while
  // the side list is hidden, the page button while one page is shown.
  const std::pair<XVChangeButton*, bool> marks[] = {{tbtView_, true}, {tbtPage_, true}, {tbtContinue_, false}};
  const Command marked[] = {Command::ShowThumbnails, Command::OneOrTwoPage, Command::PageContinue};
  for (size_t i = 0; i < std::size(marks); ++i) {
    QAction* a = action(marked[i]);
    const auto [button, inverted] = marks[i];
    a->setCheckable(true);
    a->setChecked(button->On() != inverted);
    connect(button, &QAbstractButton::toggled, a, [a, inverted = inverted](bool on) { a->setChecked(on != inverted); });
  }
  for (int i = 0; i < kCommandCount; ++i) {
    const auto command = static_cast<Command>(i);
    if (command == Command::Find || std::any_of(std::begin(buttons), std::end(buttons), [&](const auto& b) { return b.first == command; }))
      continue;
    connect(action(command), &QAction::triggered, this, [this, command] { emit commandTriggered(command); });
  }

  searchField_ = new LTTextFiled(owner);
  searchField_->setPlaceholderText(QStringLiteral("Search"));
  searchField_->setClearButtonEnabled(true);
  searchField_->setFixedWidth(200);
  connect(A.find, &QAction::triggered, this, [this] {
    searchField_->setFocus(Qt::ShortcutFocusReason);
    searchField_->selectAll();
  });

  buildToolbar(owner);
  setState(State());
}

void XVBrowserCommands::buildToolbar(QWidget* owner) {
  toolbar_ = new QToolBar(QStringLiteral("Toolbar"), owner);
  toolbar_->setObjectName(QStringLiteral("browserToolbar"));
  toolbar_->setMovable(false);
  toolbar_->setIconSize(QSize(28, 24));
  toolbar_->hide();
  const Actions& A = actions_;
  toolbar_->addWidget(tbtView_);
  toolbar_->addSeparator();
  toolbar_->addWidget(tbtPage_);
  toolbar_->addWidget(tbtContinue_);
  toolbar_->addSeparator();
  toolbar_->addAction(A.zoomOut);
  toolbar_->addAction(A.zoomIn);
  toolbar_->addWidget(tbtGZoomOriginal_);
  toolbar_->addWidget(tbtGStretch_);
  toolbar_->addSeparator();
  toolbar_->addAction(A.firstPage);
  toolbar_->addAction(A.previousPage);
  toolbar_->addAction(A.nextPage);
  toolbar_->addAction(A.lastPage);
  toolbar_->addSeparator();
  toolbar_->addAction(A.rotateLeft);
  toolbar_->addAction(A.rotateRight);
  toolbar_->addAction(A.rotateAllLeft);
  toolbar_->addAction(A.rotateAllRight);
  toolbar_->addSeparator();
  toolbar_->addAction(A.print);
  toolbar_->addAction(A.addBookmark);
  toolbar_->addAction(A.saveAs);
  toolbar_->addAction(A.extractImages);
  auto* spacer = new QWidget(toolbar_);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolbar_->addWidget(spacer);
  toolbar_->addWidget(searchField_);
}

void XVBrowserCommands::setState(const State& state) {
  state_ = state;
  for (int i = 0; i < kCommandCount; ++i) byCommand_[static_cast<size_t>(i)]->setEnabled(isEnabled(static_cast<Command>(i), state));
  tbtView_->setEnabled(isEnabled(Command::ShowThumbnails, state));
  tbtPage_->setEnabled(isEnabled(Command::OneOrTwoPage, state));
  tbtContinue_->setEnabled(isEnabled(Command::PageContinue, state));
  tbtGZoomOriginal_->setEnabled(isEnabled(Command::ZoomOriginal, state));
  tbtGStretch_->setEnabled(isEnabled(Command::ZoomStretch, state));
  searchField_->setEnabled(isEnabled(Command::Find, state));
}
