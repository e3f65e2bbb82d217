#include "modules/export/ExportToSave.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

XVStepper::XVStepper(QWidget* parent) : QSpinBox(parent) {
  // Only the arrows: the page field beside it shows the value.
  lineEdit()->setVisible(false);
  setFixedWidth(20);
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setAccelerated(true);
}

ExportToSave::ExportToSave(QWidget* parent) : QDialog(parent) {
  setWindowModality(Qt::WindowModal);
  txtFolder_ = new QLineEdit(this);
  btnChooseFolder_ = new QPushButton(QStringLiteral("Choose..."), this);
  txtSaveName_ = new QLineEdit(this);
  popFormat_ = new QComboBox(this);
  popPageMode_ = new QComboBox(this);
  popPageMode_->addItems({QStringLiteral("All Pages"), QStringLiteral("Current Page"), QStringLiteral("Page Range")});
  txtPageRange_ = new QLabel(QStringLiteral("Pages:"), this);
  txtPageStart_ = new QLineEdit(this);
  txtPageEnd_ = new QLineEdit(this);
  for (QLineEdit* f : {txtPageStart_, txtPageEnd_}) f->setFixedWidth(60);
  stepPageStart_ = new XVStepper(this);
  stepPageEnd_ = new XVStepper(this);
  txtToEndPage_ = new QLabel(QStringLiteral("to"), this);
  startFormatter_ = new XVNumberFormatter(txtPageStart_);
  endFormatter_ = new XVNumberFormatter(txtPageEnd_);
  startFormatter_->setDelegate(this);
  endFormatter_->setDelegate(this);
  txtPageStart_->setValidator(startFormatter_);
  txtPageEnd_->setValidator(endFormatter_);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("Folder:"), this), 0, 0);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(txtFolder_, 1);
  folderRow->addWidget(btnChooseFolder_);
  grid->addLayout(folderRow, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Name:"), this), 1, 0);
  grid->addWidget(txtSaveName_, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Format:"), this), 2, 0);
  grid->addWidget(popFormat_, 2, 1);
  grid->addWidget(txtPageRange_, 3, 0);
  auto* pagesRow = new QHBoxLayout;
  pagesRow->addWidget(popPageMode_);
  pagesRow->addWidget(txtPageStart_);
  pagesRow->addWidget(stepPageStart_);
  pagesRow->addWidget(txtToEndPage_);
  pagesRow->addWidget(txtPageEnd_);
  pagesRow->addWidget(stepPageEnd_);
  pagesRow->addStretch(1);
  grid->addLayout(pagesRow, 3, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons_);
  setMinimumWidth(520);

  connect(buttons_, &QDialogButtonBox::accepted, this, &ExportToSave::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(btnChooseFolder_, &QPushButton::clicked, this, &ExportToSave::chooseFolder);
  connect(popFormat_, &QComboBox::activated, this, [this] { clickChangeFormat(); });
  connect(popPageMode_, &QComboBox::activated, this, &ExportToSave::clickChangeSavePageMode);
  connect(txtPageStart_, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (!t.isEmpty()) {
      const QSignalBlocker block(stepPageStart_);
      stepPageStart_->setValue(static_cast<int>(t.toLongLong()));
    }
  });
  connect(txtPageEnd_, &QLineEdit::textEdited, this, [this](const QString& t) {
    if (!t.isEmpty()) {
      const QSignalBlocker block(stepPageEnd_);
      stepPageEnd_->setValue(static_cast<int>(t.toLongLong()));
    }
  });
  connect(stepPageStart_, &QSpinBox::valueChanged, this, &ExportToSave::clickStepStartPage);
  connect(stepPageEnd_, &QSpinBox::valueChanged, this, &ExportToSave::clickStepEndPage);
}

QPushButton* ExportToSave::okButton() const { return buttons_->button(QDialogButtonBox::Ok); }

void ExportToSave::prepare(bool extract, const QList<Format>& formats, qint64 currentPageIndex, qint64 countpage,
                           const QString& name, const QString& folder) {
  isExtract_ = extract;
  countpage_ = countpage;
  currentPageIndex_ = currentPageIndex;
  if (extract) {
    extractFormatArray_ = formats;
  } else {
    saveFormatArray_ = formats;
  }
  setWindowTitle(extract ? QStringLiteral("Extract Images") : QStringLiteral("Save As"));
  okButton()->setText(extract ? QStringLiteral("Extract") : QStringLiteral("Save"));
  txtFolder_->setText(folder);
  txtSaveName_->setText(name);
  popFormat_->clear();
  for (const Format& f : formats) popFormat_->addItem(QIcon(f.formatThumbnail()), f.formatName());
  popFormat_->setCurrentIndex(formats.isEmpty() ? -1 : 0);
  const int top = static_cast<int>(std::clamp<qint64>(countpage, 1, 1 << 30));
  for (XVStepper* s : {stepPageStart_, stepPageEnd_}) {
    const QSignalBlocker block(s);
    s->setRange(1, top);
  }
  initModestate();
  setStartPage(1);
  setEndPage(countpage);
  resetRangeState();
}

qint64 ExportToSave::startPage() const { return txtPageStart_->text().toLongLong(); }
qint64 ExportToSave::endPage() const { return txtPageEnd_->text().toLongLong(); }

void ExportToSave::setStartPage(qint64 v) {
  const QSignalBlocker block(stepPageStart_);
  stepPageStart_->setValue(static_cast<int>(v));
  txtPageStart_->setText(QString::number(v));
}

void ExportToSave::setEndPage(qint64 v) {
  const QSignalBlocker block(stepPageEnd_);
  stepPageEnd_->setValue(static_cast<int>(v));
  txtPageEnd_->setText(QString::number(v));
}

int ExportToSave::pageMode() const { return std::max(popPageMode_->currentIndex(), 0); }

void ExportToSave::initModestate() {
  changeSavePageMode(ExportPageRange::AllPages);
  popPageMode_->setVisible(true);
  txtPageRange_->setVisible(true);
}

void ExportToSave::changeSavePageMode(int mode) {
  popPageMode_->setCurrentIndex(mode);
  switch (mode) {
    case ExportPageRange::PageRange:
      setStartPage(1);
      setEndPage(countpage_);
      setHideStartControl(false);
      setHideEndControl(false);
      break;
    case ExportPageRange::CurrentPage: {
      const qint64 page = currentPageIndex_ >= 0 ? currentPageIndex_ + 1 : 1;
      setStartPage(page);
      setEndPage(page);
      setHideStartControl(false);
      setHideEndControl(true);
      break;
    }
    default:
      setHideStartControl(true);
      setHideEndControl(true);
      break;
  }
}

void ExportToSave::clickChangeSavePageMode(int mode) { changeSavePageMode(mode); }

int ExportToSave::curSelectFormat() const { return popFormat_->currentIndex(); }

Format ExportToSave::selectedFormat() const {
  const QList<Format>& list = isExtract_ ? extractFormatArray_ : saveFormatArray_;
  const int i = curSelectFormat();
  return i >= 0 && i < list.size() ? list[i] : Format();
}

void ExportToSave::resetRangeState() {
  const bool range = selectedFormat().canRangePage();
  if (!range) changeSavePageMode(ExportPageRange::AllPages);
  popPageMode_->setVisible(range);
  txtPageRange_->setVisible(range);
}

void ExportToSave::clickChangeFormat() { resetRangeState(); }

bool ExportToSave::startCanSet(qint64 v) const {
  return ExportPageRange::startCanSet(v, pageMode(), endPage(), countpage_);
}

bool ExportToSave::endCanSet(qint64 v) const { return ExportPageRange::endCanSet(v, pageMode(), startPage(), countpage_); }

void ExportToSave::setHideStartControl(bool hide) {
  txtPageStart_->setHidden(hide);
  stepPageStart_->setHidden(hide);
}

void ExportToSave::setHideEndControl(bool hide) {
  txtToEndPage_->setHidden(hide);
  txtPageEnd_->setHidden(hide);
  stepPageEnd_->setHidden(hide);
}

ExportPageRange::Pages ExportToSave::pages() const {
  return ExportPageRange::savePages(pageMode(), startPage(), endPage(), countpage_);
}

bool ExportToSave::XVNumberFormatterDelegate_TypeValue(quint64 value, XVNumberFormatter* numberFormatter) {
  if (value == 0 || value > static_cast<quint64>(countpage_)) return false;
  const auto v = static_cast<qint64>(value);
  if (numberFormatter == startFormatter_) return startCanSet(v);
  if (numberFormatter == endFormatter_) return endCanSet(v);
  return true;
}

void ExportToSave::clickStepStartPage(int v) {
  if (startCanSet(v)) {
    txtPageStart_->setText(QString::number(v));
  } else {
    const QSignalBlocker block(stepPageStart_);
    stepPageStart_->setValue(static_cast<int>(startPage()));
  }
}

void ExportToSave::clickStepEndPage(int v) {
  if (endCanSet(v)) {
    txtPageEnd_->setText(QString::number(v));
  } else {
    const QSignalBlocker block(stepPageEnd_);
    stepPageEnd_->setValue(static_cast<int>(endPage()));
  }
}

void ExportToSave::chooseFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, windowTitle(), txtFolder_->text());
  if (!folder.isEmpty()) txtFolder_->setText(QDir::toNativeSeparators(folder));
}

void ExportToSave::accept() {
  if (!validator_ || validator_(this)) QDialog::accept();
}
