#pragma once
// The dialog of Save As and Extract Images: the folder, the base name of the files, the format
// and the pages (all, the current page, or a range, counted by place in the document). It
// checks nothing itself at OK: its validator (the browser) says whether it may close; an empty
// page field is left empty for that check to refuse.

#include <QDialog>
#include <QList>
#include <QSpinBox>

#include <functional>

#include "core/Format.h"
#include "modules/export/ExportPageRange.h"
#include "modules/export/XVNumberFormatter.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The up and down arrows beside a page field.
class XVStepper : public QSpinBox {
  Q_OBJECT
 public:
  explicit XVStepper(QWidget* parent = nullptr);
};

class ExportToSave : public QDialog, public XVNumberFormatterDelegate {
  Q_OBJECT
 public:
  explicit ExportToSave(QWidget* parent = nullptr);

  // Fills the dialog for one run: Save As or Extract Images, the module's formats, the current
  // page's index (0-based, -1 for none), the page count, the default name and folder.
  void prepare(bool extract, const QList<Format>& formats, qint64 currentPageIndex, qint64 countpage, const QString& name,
               const QString& folder);

  // Asked at OK; the dialog closes only on YES.
  void setValidator(std::function<bool(ExportToSave*)> validator) { validator_ = std::move(validator); }

  QLineEdit* txtFolder() const { return txtFolder_; }
  QPushButton* btnChooseFolder() const { return btnChooseFolder_; }
  QLineEdit* txtSaveName() const { return txtSaveName_; }
  QComboBox* popFormat() const { return popFormat_; }
  QComboBox* popPageMode() const { return popPageMode_; }
  QLineEdit* txtPageStart() const { return txtPageStart_; }
  QLineEdit* txtPageEnd() const { return txtPageEnd_; }
  XVStepper* stepPageStart() const { return stepPageStart_; }
  XVStepper* stepPageEnd() const { return stepPageEnd_; }
  QLabel* txtToEndPage() const { return txtToEndPage_; }
  QLabel* txtPageRange() const { return txtPageRange_; }
  QPushButton* okButton() const;

  bool isExtract() const { return isExtract_; }
  qint64 countpage() const { return countpage_; }
  QList<Format> saveFormatArray() const { return saveFormatArray_; }
  QList<Format> extractFormatArray() const { return extractFormatArray_; }

  // Integer values of the fields (0 when empty).
  qint64 startPage() const;
  qint64 endPage() const;
  void setStartPage(qint64 v);
  void setEndPage(qint64 v);
  int pageMode() const;
  void initModestate();
  void changeSavePageMode(int mode);
  void resetRangeState();
  // The chosen format's index into the list; the format itself.
  int curSelectFormat() const;
  Format selectedFormat() const;
  qint64 curPageIndex() const { return currentPageIndex_; }
  bool startCanSet(qint64 v) const;
  bool endCanSet(qint64 v) const;
  void setHideStartControl(bool hide);
  void setHideEndControl(bool hide);
  // The 0-based pages the dialog names now.
  ExportPageRange::Pages pages() const;

  bool XVNumberFormatterDelegate_TypeValue(quint64 value, XVNumberFormatter* numberFormatter) override;

  void accept() override;
  // Closes as accepted without asking the validator again.
  void acceptChecked() { QDialog::accept(); }

 private:
  void clickChangeFormat();
  void clickChangeSavePageMode(int mode);
  void clickStepStartPage(int v);
  void clickStepEndPage(int v);
  void chooseFolder();

  QLineEdit* txtFolder_ = nullptr;
  QPushButton* btnChooseFolder_ = nullptr;
  QLineEdit* txtSaveName_ = nullptr;
  QComboBox* popFormat_ = nullptr;
  QComboBox* popPageMode_ = nullptr;
  QLineEdit* txtPageStart_ = nullptr;
  QLineEdit* txtPageEnd_ = nullptr;
  XVStepper* stepPageStart_ = nullptr;
  XVStepper* stepPageEnd_ = nullptr;
  QLabel* txtToEndPage_ = nullptr;
  QLabel* txtPageRange_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  XVNumberFormatter* startFormatter_ = nullptr;
  XVNumberFormatter* endFormatter_ = nullptr;

  bool isExtract_ = false;
  qint64 countpage_ = 0;
  qint64 currentPageIndex_ = -1;
  QList<Format> saveFormatArray_;
  QList<Format> extractFormatArray_;
  std::function<bool(ExportToSave*)> validator_;
};
