// Owners of device resources, so that every early return of a driver releases what exists.
#pragma once

#include <cstddef>
#include <utility>

#include "device/runtime.h"

namespace varpair::device {

// One cudaMalloc allocation; freed on destruction. Empty until allocate() succeeds.
class DeviceBuffer {
 public:
  DeviceBuffer() = default;
  ~DeviceBuffer() { release(); }
  DeviceBuffer(DeviceBuffer&& other) noexcept
      : ptr_(std::exchange(other.ptr_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  DeviceBuffer& operator=(DeviceBuffer&& other) noexcept {
    if (this != &other) {
      release();
      ptr_ = std::exchange(other.ptr_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  DeviceBuffer(const DeviceBuffer&) = delete;
  DeviceBuffer& operator=(const DeviceBuffer&) = delete;

  // Replaces the buffer by a new one of `bytes` bytes; returns the runtime's result.
  cudaError_t allocate(std::size_t bytes) {
    release();
    void* p = nullptr;
    const cudaError_t e = cudaMalloc(&p, bytes);
    if (e == cudaSuccess) {
      ptr_ = p;
      size_ = bytes;
    }
    return e;
  }

  void release() {
    if (ptr_ != nullptr) cudaFree(ptr_);
    ptr_ = nullptr;
    size_ = 0;
  }

  template <class T = unsigned char>
  T* get() const {
    return static_cast<T*>(ptr_);
  }
  std::size_t size() const { return size_; }

 private:
  void* ptr_ = nullptr;
  std::size_t size_ = 0;
};

// One CUDA stream; destroyed on destruction.
class Stream {
 public:
  Stream() = default;
  ~Stream() {
    if (stream_ != nullptr) cudaStreamDestroy(stream_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  cudaError_t create() { return cudaStreamCreate(&stream_); }
  cudaStream_t get() const { return stream_; }

 private:
  cudaStream_t stream_ = nullptr;
};

}  // namespace varpair::device
