// The window on Windows: the port list read from the registry, and the whole service through
// the window against the simulated unit behind a COM port. ZPI_TEST_SERVICE_PORT names a port
// with a fresh unit behind it at firmware 2.45 with an invalid configuration
// (scripts/windows-check.sh links zpisim there under Wine).
#include "support/gui_support.h"

// lib
#include "serial/comport_win32.h"
#include "app/version_fetcher.h"

// Qt
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

// Std
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

using namespace std::chrono_literals;

namespace {

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

// A key under HKEY_CURRENT_USER that plays HARDWARE\DEVICEMAP\SERIALCOMM while it lives.
class FakeSerialComm {
 public:
  explicit FakeSerialComm(std::initializer_list<std::pair<const char*, const char*>> values)
      : key_("Software\\ZPiToolTests\\SERIALCOMM-" + std::to_string(::GetCurrentProcessId())) {
    HKEY key = nullptr;
    ok_ = ::RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
          ERROR_SUCCESS;
    for (const auto& [name, port] : values)
      ok_ = ok_ && ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                                    static_cast<DWORD>(std::strlen(port) + 1)) == ERROR_SUCCESS;
    if (key) ::RegCloseKey(key);
    SetPortListSourceForTests(key_);
  }
  ~FakeSerialComm() {
    SetPortListSourceForTests({});
    ::RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
  }
  FakeSerialComm(const FakeSerialComm&) = delete;
  FakeSerialComm& operator=(const FakeSerialComm&) = delete;

  [[nodiscard]] bool Ok() const { return ok_; }
  [[nodiscard]] const std::string& Key() const { return key_; }

 private:
  std::string key_;
  bool ok_ = false;
};

QStringList Entries(const QComboBox& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i) out << list.itemText(i);
  return out;
}

using WindowWin32 = WindowTest;

// The version file over HTTPS with Windows' own TLS (Schannel), from a local server named by
// ZPI_TEST_TLS_SERVER whose self-signed certificate is the file ZPI_TEST_TLS_CERT: a server
// the system cannot trust is never read; once its certificate is trusted, the file comes in.
// Under Wine the handshake happens (the server logs it), but Wine's Schannel never hands over
// the end of the reply, so the trusted read is left to Windows.
TEST(VersionFetcherWin32, TheVersionFileComesOverSchannelFromATrustedServerOnly) {
  EXPECT_EQ(QSslSocket::activeBackend(), "schannel");
  const auto server = Env("ZPI_TEST_TLS_SERVER");
  const auto certificate = Env("ZPI_TEST_TLS_CERT");
  if (!server || !certificate)
    GTEST_SKIP() << "set ZPI_TEST_TLS_SERVER (https://host:port) and ZPI_TEST_TLS_CERT (its certificate, PEM)";
  const QUrl address = QUrl(QString::fromStdString(*server)).resolved(QUrl("/files/zpitool.ver"));
  const auto fetch = [&] {
    TVersionFetcher fetcher;
    fetcher.Navigate(address, true);
    EXPECT_TRUE(WaitUntil([&] { return fetcher.ReadyState() == TVersionFetcher::ReadyStateComplete; }, 20s));
    return fetcher.Body();
  };
  EXPECT_EQ(fetch(), std::nullopt);  // untrusted: refused
  if (RunningUnderWine()) GTEST_SKIP() << "Wine: its Schannel never hands over the end of a reply";

  QFile pem(QString::fromStdString(*certificate));
  ASSERT_TRUE(pem.open(QIODevice::ReadOnly)) << *certificate;
  const QList<QSslCertificate> trusted = QSslCertificate::fromDevice(&pem, QSsl::Pem);
  ASSERT_EQ(trusted.size(), 1);
  const QSslConfiguration before = QSslConfiguration::defaultConfiguration();
  QSslConfiguration configuration = before;
  configuration.addCaCertificates(trusted);
  QSslConfiguration::setDefaultConfiguration(configuration);
  const auto body = fetch();
  QSslConfiguration::setDefaultConfiguration(before);
  ASSERT_TRUE(body.has_value());
  EXPECT_NE(body->find("#*$(002.046.066@@002.046.066)$*#"), std::string::npos) << *body;
}

// Windows has the window's own fonts: the free families listed after them for other systems
// never stand in for them there.
TEST_F(WindowWin32, TheWindowsFontsAreTheOnesUsed) {
  for (const char* family : {"MS Sans Serif", "Verdana", "Consolas"})
    if (RunningUnderWine() && !QFontDatabase::hasFamily(QString::fromLatin1(family)))
      GTEST_SKIP() << "Wine: no " << family << " in this prefix (scripts/windows-check.sh registers stand-ins)";
  const auto family = [](const QWidget* widget) { return QFontInfo(widget->font()).family(); };
  EXPECT_TRUE(family(form.get()) == "MS Sans Serif" || family(form.get()) == "Microsoft Sans Serif")
      << family(form.get()).toStdString();
  EXPECT_EQ(family(form->ED_VMX), family(form.get()));
  EXPECT_EQ(family(form->GB_Config), "Verdana");
  EXPECT_EQ(family(form->L_Site), "Verdana");
  EXPECT_EQ(family(form->Log), "Consolas");
  EXPECT_EQ(family(form->LogIdList), "Consolas");
}

TEST_F(WindowWin32, PortListComesFromTheRegistrySortedAsTextWithTheFirstSelected) {
  FakeSerialComm registry{{"\\Device\\Serial2", "COM2"}, {"\\Device\\VCP0", "COM10"}, {"\\Device\\Serial0", "COM1"}};
  ASSERT_TRUE(registry.Ok());
  form->ComboBox1->showPopup();  // fills the list before it opens
  form->ComboBox1->hidePopup();
  EXPECT_EQ(Entries(*form->ComboBox1), (QStringList{"COM1", "COM10", "COM2"}));
  EXPECT_EQ(form->ComboBox1->currentIndex(), 0);

  // A fresh window lists them at start-up.
  auto fresh = MakeForm();
  EXPECT_EQ(Entries(*fresh->ComboBox1), (QStringList{"COM1", "COM10", "COM2"}));
  EXPECT_EQ(fresh->ComboBox1->currentText(), "COM1");
}

TEST_F(WindowWin32, AnEmptyOrMissingKeyLeavesTheWindowQuiet) {
  {
    FakeSerialComm registry{};  // a machine whose ports are all gone: an empty key
    ASSERT_TRUE(registry.Ok());
    form->ComboBox1DropDown();
    EXPECT_EQ(form->ComboBox1->count(), 0);
    QTest::mouseClick(form->ButtonVCP, Qt::LeftButton);
    EXPECT_FALSE(form->ButtonVCP->Down());
    EXPECT_FALSE(form->VCP.Connected());
  }
  // No key at all (a machine that never had a serial port): the list keeps what it had.
  form->ComboBox1->addItems({"COM3", "COM4"});
  form->ComboBox1->setCurrentIndex(1);
  SetPortListSourceForTests("Software\\ZPiToolTests\\NoSuchKey");
  form->ComboBox1DropDown();
  SetPortListSourceForTests({});
  EXPECT_EQ(Entries(*form->ComboBox1), (QStringList{"COM3", "COM4"}));
  EXPECT_EQ(form->ComboBox1->currentIndex(), 1);
  EXPECT_EQ(boxes->Count(), 0u);
}

// The road of one unit through the real window and the Win32 serial component: the firmware
// upload, the configuration read, the invalid configuration replaced, a write from the panel,
// and a second connection that reads back what was written.
TEST_F(WindowWin32, OneFullServiceAgainstTheSimulatedUnit) {
  const auto port = Env("ZPI_TEST_SERVICE_PORT");
  if (!port)
    GTEST_SKIP() << "set ZPI_TEST_SERVICE_PORT to a port with a fresh simulated unit (firmware 2.45, invalid "
                    "configuration) behind it";
  const QString portName = QString::fromStdString(*port);
  const auto connect = [&] {
    form->ComboBox1DropDown();
    int entry = form->ComboBox1->findText(portName);
    if (entry < 0) {  // a port the system does not list (linked by hand): pick it all the same
      form->ComboBox1->addItem(portName);
      entry = form->ComboBox1->count() - 1;
    }
    form->ComboBox1->setCurrentIndex(entry);
    QTest::mouseClick(form->ButtonVCP, Qt::LeftButton);
    ASSERT_TRUE(form->VCP.Connected()) << "opening " << *port;
  };
  const auto waitFor = [&](const QString& line, int times, std::chrono::milliseconds limit) {
    return WaitUntil([&] { return LogLines(*form).count(line) >= times; }, limit);
  };
  const auto diagnose = [&] { return LogLines(*form).join(u'\n').toStdString(); };

  connect();
  ASSERT_TRUE(waitFor("Atualização concluída com sucesso!", 2, 180s)) << diagnose();
  const QStringList first = LogLines(*form);
  const QStringList expected = {
      "Conexão aberta...",
      "ZPi v4.1.2.45",
      "Id: 00000246 00C0FFEE 5A500001",
      "Iniciando atualização...",
      "Atualizando firmware...",
      "Atualização concluída com sucesso!",
      "",
      "ZPi v4.1.2.46",
      "Id: 00000246 00C0FFEE 5A500001",
      "O ZPi está atualizado!",
      "Buscando configuração interna...",
      "Configuração inválida!",
      "Preparando configuração padrão...",
      "Iniciando atualização...",
      "Atualizando configuração...",
      "Atualização concluída com sucesso!",
  };
  EXPECT_EQ(first.mid(0, expected.size()), expected) << diagnose();
  EXPECT_EQ(form->ED_VMX->text(), "120");  // the stock record on the panel

  // A write from the panel.
  form->ED_VMX->setText("99");
  form->CB_BZ_VMX_WH->setChecked(true);
  form->B_SetConfig->click();
  ASSERT_TRUE(waitFor("Atualização concluída com sucesso!", 3, 30s)) << diagnose();

  // Closed and opened again: the unit, now current, gives back what was written.
  QTest::mouseClick(form->ButtonVCP, Qt::LeftButton);
  ASSERT_FALSE(form->VCP.Connected());
  connect();
  ASSERT_TRUE(waitFor("Leitura da configuração interna concluída!", 1, 30s)) << diagnose();
  EXPECT_EQ(form->ED_VMX->text(), "99");
  EXPECT_TRUE(form->CB_BZ_VMX_WH->isChecked());
  EXPECT_EQ(boxes->Count(), 0u);
  QTest::mouseClick(form->ButtonVCP, Qt::LeftButton);
  EXPECT_FALSE(form->VCP.Connected());
}

}  // namespace
