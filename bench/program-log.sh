# The program's log as the scripts read it (holdback.sh, tests/win/e2e.sh):
# printf formats of the run's sentences, a %s for each value. The unit tests
# check each against the sentence the run writes (timeout/untRunLog.cpp).
ProgramProbe='%-6s мс : %s'
ProgramMaximum='Максимальный таймаут: %s мс.'
ProgramSetTimeout='Установка таймаута ФР %s мс.'
ProgramDisconnecting='Отключение от ФР'
ProgramSeparator='----------------------------'
ProgramSearching='Определение максимального таймаута'
ProgramAllPassed='Тест пройден!'
ProgramPassed='OK'
ProgramNotPassed='Тест не пройден!'
ProgramStopped='Тест прерван'

# The line of a probe of delay $1 that ended with $2 (none while it runs).
ProgramProbeLine() { printf "$ProgramProbe" "$1" "${2:-}"; }
# The maximum a program log $1 ends its search with, if any.
ProgramMaximumIn() { sed -n "s/^$(printf "$ProgramMaximum" '\([0-9]*\)')\$/\1/p" "$1"; }
