// One connection to an MQTT broker through libmosquitto, kept up by a
// thread of its own: it connects, subscribes, reconnects with a growing
// pause after a loss and hands received messages over to whoever takes
// them. Publishing never waits for the network: while the broker is away a
// publish is dropped and says so.
#ifndef RVX_TOOLS_MQTT_LINK_H_
#define RVX_TOOLS_MQTT_LINK_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace rvxctl {

struct MqttSettings {
  std::string host;
  int port = 1883;
  std::string client_id;
  std::string user, password;  // no user: no credentials
  bool tls = false;
  std::string cafile, capath, certfile, keyfile;
  int keepalive = 10;                    // seconds
  int first_pause = 1, last_pause = 30;  // reconnect pauses, seconds, doubling
  std::string will_topic, will_payload;  // retained, QoS 1
  std::vector<std::string> subscriptions;
};

struct MqttMessage {
  std::string topic, payload;
};

class MqttLink {
 public:
  MqttLink() = default;
  ~MqttLink();
  MqttLink(const MqttLink &) = delete;
  MqttLink &operator=(const MqttLink &) = delete;

  // Sets the client up and starts its thread; false and `why` when the
  // settings cannot be used (a broker that does not answer is not that:
  // the thread keeps trying).
  bool Start(const MqttSettings &settings, std::string *why);
  // Publishes `last_payload` to `last_topic` (retained), disconnects and ends
  // the thread.
  void Stop(const std::string &last_topic, const std::string &last_payload);

  bool connected() const { return connected_; }
  // Connections made so far; a new value means a new session to fill.
  uint32_t sessions() const { return sessions_; }

  bool Publish(const std::string &topic, const std::string &payload, bool retain);
  // Messages received since the last call, oldest first.
  std::vector<MqttMessage> Take();

 private:
  static void OnConnect(mosquitto *, void *self, int rc);
  static void OnDisconnect(mosquitto *, void *self, int rc);
  static void OnMessage(mosquitto *, void *self, const mosquitto_message *m);
  void Run();
  // Sleeps up to `seconds` unless Stop comes first; false when it did.
  bool Pause(int seconds);

  MqttSettings settings_;
  mosquitto *mosq_ = nullptr;
  std::thread thread_;
  std::atomic<bool> connected_{false}, stopping_{false};
  std::atomic<uint32_t> sessions_{0};
  std::mutex lock_;  // the inbox, the stop signal and the end; never held over a network call
  std::condition_variable wake_;
  std::deque<MqttMessage> inbox_;
  bool ended_ = false;  // the thread has left its loop
};

}  // namespace rvxctl

#endif  // RVX_TOOLS_MQTT_LINK_H_
