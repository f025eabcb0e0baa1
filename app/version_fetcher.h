#pragma once
// Fetches the version file from the vendor's web server. Takes the place of an embedded
// browser: navigate, stop, a ready state that reads 4 once the last request is over, and
// the loaded document's body as HTML text. The reply is read up to BodyLimit bytes; a longer
// one, a network error or an HTTP error status leaves a document whose body cannot be read.

// Qt
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

// Std
#include <optional>
#include <string>

class QNetworkReply;

class TVersionFetcher : public QObject {
  Q_OBJECT
 public:
  static constexpr int ReadyStateUninitialized = 0;
  static constexpr int ReadyStateLoading = 1;
  static constexpr int ReadyStateComplete = 4;
  static constexpr qsizetype BodyLimit = 64 * 1024;

  explicit TVersionFetcher(QObject* parent = nullptr);
  ~TVersionFetcher() override;

  // Starts loading url, cancelling what is loading. noCache: neither read from nor write
  // to a cache.
  void Navigate(const QUrl& url, bool noCache);
  void Stop();
  [[nodiscard]] int ReadyState() const { return readyState_; }
  [[nodiscard]] bool HasDocument() const { return readyState_ == ReadyStateComplete; }
  // The loaded bytes as they came, or none when there is no readable body.
  [[nodiscard]] std::optional<std::string> Body() const;
  // The reply's Content-Type header; empty when it had none.
  [[nodiscard]] const std::string& ContentType() const { return contentType_; }
  // The body element's HTML text, as a browser control gives it for the loaded reply.
  [[nodiscard]] std::optional<std::string> BodyHtml() const;

 signals:
  void DocumentComplete();

 private:
  void ReadAvailable();
  void ReplyFinished();
  void Complete(bool readable);
  void DropReply();

  QNetworkAccessManager manager_;
  QNetworkReply* reply_ = nullptr;
  int readyState_ = ReadyStateUninitialized;
  bool readable_ = false;
  std::string body_;
  std::string contentType_;
};

// The vendor's web server, scheme://host, as the build sets it.
[[nodiscard]] QUrl VendorServer();
// An address on the vendor's server; path starts with "/".
[[nodiscard]] QUrl VendorAddress(const QString& path);
// Points the version check, the download and the site at another server (tests only; an
// empty url goes back to the vendor's).
void SetVersionServerForTests(const QUrl& base);
