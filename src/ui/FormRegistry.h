#pragma once

#include <QCloseEvent>
#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <typeindex>

namespace corvidan::ui {

class Application;

/// Drops a window from the registry the moment its close is accepted, so a
/// nested event loop never hands out a window that is about to be deleted.
class CloseWatcher final : public QObject {
public:
    template <class Forget>
    CloseWatcher(QWidget* form, Forget forget) : QObject(form), m_forget(std::move(forget))
    {
        form->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Close)
            return false;
        // Let the window decide first; only an accepted close unloads it.
        watched->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, event);
        watched->installEventFilter(this);
        if (event->isAccepted())
            m_forget();
        return true;
    }

private:
    std::function<void()> m_forget;
};

/// Windows are created on first use (their Form_Load runs then, before anyone
/// reads a control), reused while they exist, and discarded when they close;
/// the next use creates them afresh from their design state.
class FormRegistry {
public:
    explicit FormRegistry(Application& app) : m_app(app) {}
    ~FormRegistry() { discardAll(); }
    FormRegistry(const FormRegistry&) = delete;
    FormRegistry& operator=(const FormRegistry&) = delete;

    /// The live window of type T, created hidden and loaded when it did not exist.
    template <class T>
    T* get()
    {
        if (T* existing = find<T>())
            return existing;
        T* form = new T(m_app);
        form->setAttribute(Qt::WA_DeleteOnClose);
        const std::type_index key(typeid(T));
        m_forms[key] = form;
        new CloseWatcher(form, [this, key, form] {
            const auto it = m_forms.find(key);
            if (it != m_forms.end() && it->second.data() == form)
                m_forms.erase(it);
        });
        form->Form_Load();
        return form;
    }

    /// The live window of type T, or nullptr; never creates one.
    template <class T>
    T* find() const
    {
        const auto it = m_forms.find(std::type_index(typeid(T)));
        if (it == m_forms.end() || it->second.isNull())
            return nullptr;
        return static_cast<T*>(it->second.data());
    }

    /// Ends every window at once without its unload handling (process shutdown).
    void discardAll()
    {
        auto forms = std::move(m_forms);
        m_forms.clear();
        for (auto& entry : forms)
            delete entry.second.data();
    }

    /// discardAll() for every window but `keep`: the launcher ends the others
    /// from inside its own close event, where it must not delete itself.
    void discardAllExcept(const QWidget* keep)
    {
        auto forms = std::move(m_forms);
        m_forms.clear();
        for (auto& entry : forms) {
            if (entry.second.data() == keep)
                m_forms.insert(entry);
            else
                delete entry.second.data();
        }
    }

private:
    Application& m_app;
    std::map<std::type_index, QPointer<QWidget>> m_forms;
};

} // namespace corvidan::ui
