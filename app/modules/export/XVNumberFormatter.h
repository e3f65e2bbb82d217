#pragma once
// Keeps a page field to digits and to the values its delegate allows: an empty text is taken
// (a field being typed), any other character than 0 to 9 is refused, and a number goes to the
// delegate. A refused keystroke leaves the field as it was.

#include <QPointer>
#include <QValidator>

#include <QLineEdit>
class XVNumberFormatter;

class XVNumberFormatterDelegate {
 public:
  virtual ~XVNumberFormatterDelegate() = default;
  virtual bool XVNumberFormatterDelegate_TypeValue(quint64 value, XVNumberFormatter* numberFormatter) = 0;
};

class XVNumberFormatter : public QValidator {
  Q_OBJECT
 public:
  explicit XVNumberFormatter(QLineEdit* field);

  QLineEdit* obj() const { return obj_; }
  void setDelegate(XVNumberFormatterDelegate* delegate) { delegate_ = delegate; }
  XVNumberFormatterDelegate* delegate() const { return delegate_; }

  State validate(QString& input, int& pos) const override;

 private:
  QPointer<QLineEdit> obj_;
  XVNumberFormatterDelegate* delegate_ = nullptr;
};
