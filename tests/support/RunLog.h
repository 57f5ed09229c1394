#pragma once
// The lines every run writes around its probes, with the stand-in's 150 ms
// restored.
#include <initializer_list>
#include <string>
#include <vector>

using TLines = std::vector<std::string>;

inline const std::string Sep = "----------------------------";
inline const TLines Head = {"Подключение к ФР", "Установка таймаута ФР 100000 мс.",
                            "Отключение от ФР", Sep, "Тест фиксированных таймаутов"};
inline const TLines Restore = {Sep, "Установка таймаута ФР 150 мс.", "Отключение от ФР"};

inline TLines Join(std::initializer_list<TLines> Parts) {
    TLines All;
    for (const auto& P : Parts)
        All.insert(All.end(), P.begin(), P.end());
    return All;
}
