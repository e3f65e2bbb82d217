#pragma once
// What the load manager reports to a requester (the browser), on the load or module thread,
// and the loading interface the requester sees.

#include <QString>

#include <memory>

class ImportInterface;

class XVloadDocumentProgressDelegate {
 public:
  enum Answer : unsigned { AnswersStart = 1, AnswersProgress = 2, AnswersEnd = 4, AnswersAll = 7 };

  virtual ~XVloadDocumentProgressDelegate() = default;
  // Which of the three messages this requester answers; unanswered ones are not sent (and a
  // requester that does not answer the end gets nothing imported from the cache).
  virtual unsigned answeredMessages() const { return AnswersAll; }

  virtual void XVLoad_Start(const QString& filePath) { (void)filePath; }
  virtual void XVLoad_progress(double progress, const QString& filePath) {
    (void)progress;
    (void)filePath;
  }
  // `import` is null when no module could be made or opened.
  virtual void XVLoad_End(std::shared_ptr<ImportInterface> import, const QString& filePath, const QString& errorInfo) {
    (void)import;
    (void)filePath;
    (void)errorInfo;
  }
};

// The road from a requester to the documents; the load manager implements it.
class XVDocumentLoader {
 public:
  virtual ~XVDocumentLoader() = default;
  // Returns at once; the requester hears of the load through its delegate messages.
  virtual void loadDocumentByFilePath(const QString& filePath,
                                      std::shared_ptr<XVloadDocumentProgressDelegate> delegate) = 0;
};
