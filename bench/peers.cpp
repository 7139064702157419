#include "peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "verify/cipher.h"
#include "verify/protocol.h"

namespace hv::bench {
namespace {

bool TripleDes(const std::string& in, bool encipher, std::string* out) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  out->resize(in.size() + 16);
  int n = 0, tail = 0;
  bool ok = EVP_CipherInit_ex(ctx, EVP_des_ede3_ecb(), nullptr,
                              reinterpret_cast<const unsigned char*>(VerifyCipherKey), nullptr,
                              encipher ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(&(*out)[0]), &n,
                             reinterpret_cast<const unsigned char*>(in.data()),
                             static_cast<int>(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char*>(&(*out)[n]), &tail) == 1;
  EVP_CIPHER_CTX_free(ctx);
  out->resize(static_cast<size_t>(n + tail));
  return ok;
}

std::string Escape(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

}  // namespace

std::string OpenSslEncipher(const std::string& plain) {
  std::string filled(std::string((8 - plain.size() % 8) % 8, '@') + plain), cipher;
  TripleDes(filled, true, &cipher);
  std::vector<unsigned char> text(4 * ((cipher.size() + 2) / 3) + 1);
  int n = EVP_EncodeBlock(text.data(), reinterpret_cast<const unsigned char*>(cipher.data()),
                          static_cast<int>(cipher.size()));
  return Escape(std::string(reinterpret_cast<char*>(text.data()), static_cast<size_t>(n)));
}

bool OpenSslDecipher(const std::string& text, std::string* plain) {
  std::string clean;
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != ' ') clean.push_back(c);
  }
  std::vector<unsigned char> bytes(clean.size() + 3);
  int n = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(clean.data()),
                          static_cast<int>(clean.size()));
  if (n <= 0) return false;
  while (!clean.empty() && clean.back() == '=') {
    clean.pop_back();
    --n;
  }
  if (n % 8 != 0) return false;
  std::string deciphered;
  if (!TripleDes(std::string(reinterpret_cast<char*>(bytes.data()), static_cast<size_t>(n)), false,
                 &deciphered)) {
    return false;
  }
  size_t first = deciphered.find_first_not_of('@');
  if (first == std::string::npos) return false;
  *plain = deciphered.substr(first);
  return true;
}

bool CurlVerify(uint16_t port, const std::string& user, const std::string& password,
                std::string* answer) {
  return CurlVerifyAt("http://127.0.0.1:" + std::to_string(port), user, password, nullptr, answer);
}

bool CurlVerifyAt(const std::string& origin, const std::string& user, const std::string& password,
                  const std::function<void(CURL*)>& configure, std::string* answer) {
  std::string url = origin + kVerifyPath + kVerifyQueryStart + OpenSslEncipher(VerifyQuery(user, password));
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  if (configure) configure(curl);
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK && status == 200 && OpenSslDecipher(body, answer);
}

int ConnectLoopback(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool PlainSocketExchange(uint16_t port, const std::string& request, std::string* response) {
  int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  bool ok = write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
  char buffer[4096];
  for (ssize_t n; ok && (n = read(fd, buffer, sizeof buffer)) > 0;) response->append(buffer, static_cast<size_t>(n));
  close(fd);
  return ok;
}

AppendedLines::AppendedLines(const std::string& path)
    : fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}

AppendedLines::~AppendedLines() {
  if (fd_ >= 0) close(fd_);
}

bool AppendedLines::WriteSix() {
  static const char kLine[] = "2026-12-09 13:37:00|00001234| StartVerify : a line of sixty\n";
  bool ok = fd_ >= 0;
  for (int i = 0; ok && i < 6; ++i) ok = write(fd_, kLine, sizeof kLine - 1) == sizeof kLine - 1;
  return ok;
}

}  // namespace hv::bench
