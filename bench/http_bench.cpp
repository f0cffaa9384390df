// The HTTP client against libcurl on the same loopback exchanges: a GET of a
// 10,000-line server list and a POST of a 1 MiB report, each on a fresh
// connection, as the program makes them.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <string>

#include "app/site_services.hpp"
#include "loopback_http_server.hpp"
#include "net/http_client.hpp"

namespace {

std::string serverList() {
  std::string list;
  for (int i = 0; i < 10000; ++i) {
    list += "Class " + std::to_string(i % 8) + ":198.18." + std::to_string(i / 250) + "." +
            std::to_string(i % 250) + ":80\n";
  }
  return list;
}

std::string report() {
  std::string text = "Class 0\n";
  for (int i = 0; text.size() < (1u << 20) - 4; ++i) {
    text += "198.18.0." + std::to_string(i % 250) + ":" + std::to_string(10 + i % 90) + ":\n";
  }
  text.resize((1u << 20) - 4);
  text += "END\n";
  return text;
}

std::string replyWith(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string& listBody() {
  static const std::string body = serverList();
  return body;
}

const std::string& reportBody() {
  static const std::string body = report();
  return body;
}

const std::string handle = "b3f1c2d4e5";

zelvor::bench::LoopbackHttpServer& listServer() {
  static zelvor::bench::LoopbackHttpServer server(replyWith(listBody()));
  return server;
}

zelvor::bench::LoopbackHttpServer& postServer() {
  static zelvor::bench::LoopbackHttpServer server(replyWith(handle));
  return server;
}

size_t appendTo(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// One libcurl exchange on a fresh connection, HTTP/1.0 as the client speaks.
std::string curlExchange(std::uint16_t port, const char* path, const std::string* body) {
  CURL* curl = curl_easy_init();
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + path;
  std::string reply;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendTo);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  if (body != nullptr) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
  }
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK) reply = curl_easy_strerror(result);
  return reply;
}

void check(benchmark::State& state, const std::string& got, const std::string& expected) {
  if (got != expected) state.SkipWithError("the exchange returned the wrong body");
}

void zelvorGet(benchmark::State& state) {
  const std::uint16_t port = listServer().port();
  for (auto _ : state) {
    check(state, zelvor::httpGet("127.0.0.1", "/zv_fetch", port, zelvor::maxListReplyBytes),
          listBody());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listBody().size()));
}

void curlGet(benchmark::State& state) {
  const std::uint16_t port = listServer().port();
  for (auto _ : state) check(state, curlExchange(port, "/zv_fetch", nullptr), listBody());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(listBody().size()));
}

void zelvorPost(benchmark::State& state) {
  const std::uint16_t port = postServer().port();
  for (auto _ : state) {
    check(state,
          zelvor::httpPost("127.0.0.1", "/zelvor", reportBody(), port, zelvor::maxHandleReplyBytes),
          handle);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reportBody().size()));
}

void curlPost(benchmark::State& state) {
  const std::uint16_t port = postServer().port();
  for (auto _ : state) check(state, curlExchange(port, "/zelvor", &reportBody()), handle);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reportBody().size()));
}

BENCHMARK(zelvorGet)->Name("get_list/zelvor")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(curlGet)->Name("get_list/libcurl")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(zelvorPost)->Name("post_report/zelvor")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(curlPost)->Name("post_report/libcurl")->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
