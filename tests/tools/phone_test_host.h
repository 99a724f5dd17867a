// A bare-bones host for driving the phone model byte by byte in tests.
#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

#include "tools/virtual_phone/phone_model.h"

struct Phone_Test_Host {
    explicit Phone_Test_Host(vphone::Phone_Model& model) : phone(model) {}

    vphone::Phone_Model& phone;
    std::vector<vphone::Phone_Output> last_output;

    // Sends bytes and returns everything the phone answered, delays ignored.
    std::vector<std::uint8_t> send(std::vector<std::uint8_t> bytes) {
        phone.receive(bytes);
        last_output = phone.take_output();
        std::vector<std::uint8_t> answer;
        for (const auto& out : last_output) {
            answer.insert(answer.end(), out.bytes.begin(), out.bytes.end());
        }
        return answer;
    }

    // One full handshake cycle; true when every answer was right.
    bool sync_cycle() {
        return send({0x58}) == std::vector<std::uint8_t>{0x58} &&
               send({0xA3}) == std::vector<std::uint8_t>{0x5C} && send({0xA5}).empty() &&
               send({0x55}) == std::vector<std::uint8_t>{0xAA};
    }

    // The whole handshake: 20 cycles (80 host bytes).
    bool handshake() {
        for (int cycle = 0; cycle < 20; ++cycle) {
            if (!sync_cycle()) {
                return false;
            }
        }
        return true;
    }

    // Handshake, record read and record write: the link ready for 0xDD
    // (114 host bytes).
    bool link() {
        return handshake() && send({0xE0}).size() == 33 &&
               send({0xE1}) == std::vector<std::uint8_t>{0x5A} &&
               send(std::vector<std::uint8_t>(32, 'R')).empty();
    }

    static std::vector<std::uint8_t> le32(std::uint32_t v) {
        return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    }

    // 0xDD with two regions of the given starts and lengths.
    std::vector<std::uint8_t> announce(std::uint32_t start1, std::uint32_t length1,
                                       std::uint32_t start2, std::uint32_t length2) {
        std::vector<std::uint8_t> bytes = {0xDD, 0x02};
        for (std::uint32_t v : {start1, start1 + length1 - 1, start2, start2 + length2 - 1}) {
            auto field = le32(v);
            bytes.insert(bytes.end(), field.begin(), field.end());
        }
        return send(bytes);
    }

    // One data block followed by its sum (or a given, possibly wrong, sum).
    std::vector<std::uint8_t> block(const std::vector<std::uint8_t>& data, int sum_delta = 0) {
        unsigned sum = std::accumulate(data.begin(), data.end(), 0u) + sum_delta;
        std::vector<std::uint8_t> bytes = data;
        bytes.push_back(static_cast<std::uint8_t>(sum >> 8));
        bytes.push_back(static_cast<std::uint8_t>(sum));
        return send(bytes);
    }

    // 0xDE and the block size; true when both were acknowledged.
    bool start_transfer() {
        return send({0xDE}) == std::vector<std::uint8_t>{0x5A} &&
               send({0x00, 0x80, 0x00, 0x00}) == std::vector<std::uint8_t>{0x5A};
    }
};

inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 8));
    }
    return bytes;
}
