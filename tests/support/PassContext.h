// A context that runs a callback inside the render core's context-update
// pass (while the pass holds the render list locked), entered into the
// render list for the life of the holder.
#pragma once

#include <functional>

#include "effects/RenderObject.h"
#include "model/ObjectContext.h"
#include "render/RenderCore.h"

namespace testing_support {

class PassContext {
public:
    explicit PassContext(std::function<void()> during) {
        object_.name = "pass";
        createRenderObject(object_, new Context(std::move(during)));
    }
    ~PassContext() { releaseRenderObject(object_); }
    PassContext(const PassContext&) = delete;
    PassContext& operator=(const PassContext&) = delete;

private:
    struct Context : ObjectContext {
        explicit Context(std::function<void()> during) : during(std::move(during)) {}
        void update(const Matrix34&) override {
            if (during) during();
        }
        std::function<void()> during;
    };
    RenderObject object_;
};

}  // namespace testing_support
