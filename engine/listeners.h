// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace quillo {

// Who is told of a change, in the order they began to listen. Listening ends
// when its Subscription goes: the teller or the listener may go first, so
// neither needs the other to outlive it.
template <class Listener> class Listeners {
    using List = std::vector<Listener*>;

public:
    class Subscription {
    public:
        Subscription() = default;
        ~Subscription() { end(); }
        Subscription(Subscription&& other) noexcept
            : list_(std::move(other.list_)), listener_(std::exchange(other.listener_, nullptr)) {}
        Subscription& operator=(Subscription&& other) noexcept {
            if (this != &other) {
                end();
                list_ = std::move(other.list_);
                listener_ = std::exchange(other.listener_, nullptr);
            }
            return *this;
        }

    private:
        friend class Listeners;
        Subscription(const std::shared_ptr<List>& list, Listener* listener)
            : list_(list), listener_(listener) {}
        void end() noexcept {
            if (const auto list = list_.lock()) {
                list->erase(std::remove(list->begin(), list->end(), listener_), list->end());
            }
            list_.reset();
        }

        std::weak_ptr<List> list_;
        Listener* listener_ = nullptr;
    };

    [[nodiscard]] Subscription add(Listener& listener) {
        list_->push_back(&listener);
        return Subscription(list_, &listener);
    }

    // Calls tell(listener) for each; one that stops listening meanwhile is
    // not told again, and nothing is allocated.
    template <class Tell> void each(Tell&& tell) const noexcept {
        const List& list = *list_;
        for (std::size_t i = 0; i < list.size(); ++i) {
            Listener* const listener = list[i];
            tell(*listener);
            if (i < list.size() && list[i] != listener) {
                --i; // it left: the next one moved into its place
            }
        }
    }

private:
    std::shared_ptr<List> list_ = std::make_shared<List>();
};

} // namespace quillo
