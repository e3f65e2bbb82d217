#include "modules/export/XVNumberFormatter.h"

#include <QLineEdit>

#include "modules/export/ExportPageRange.h"

XVNumberFormatter::XVNumberFormatter(QLineEdit* field) : QValidator(field), obj_(field) {}

QValidator::State XVNumberFormatter::validate(QString& input, int&) const {
  if (input.isEmpty()) return Intermediate;
  if (!ExportPageRange::isDigits(input) || input.size() > 18) return Invalid;
  if (!delegate_) return Acceptable;
  return delegate_->XVNumberFormatterDelegate_TypeValue(input.toULongLong(), const_cast<XVNumberFormatter*>(this))
             ? Acceptable
             : Invalid;
}
