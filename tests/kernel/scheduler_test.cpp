#include "kernel/scheduler.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/world_test.hpp"

namespace {
std::string trace;
void task_a() { trace += "a"; }
void task_b() { trace += "b"; }
void task_posting_b() {
  trace += "p";
  VEX_post(task_b);
}

class TaskRing : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    trace.clear();
  }
};
}  // namespace

TEST_F(TaskRing, RunsTasksFirstInFirstOut) {
  EXPECT_EQ(VEX_post(task_a), SUCCESS);
  EXPECT_EQ(VEX_post(task_b), SUCCESS);
  EXPECT_EQ(VEX_post(task_a), SUCCESS);
  VEXH_run_all_tasks();
  EXPECT_EQ(trace, "aba");
  EXPECT_FALSE(VEXH_run_next_task());
}

TEST_F(TaskRing, RefusesANinthTaskUntilOneHasRun) {
  for (int i = 0; i < 8; ++i) EXPECT_EQ(VEX_post(task_a), SUCCESS) << i;
  EXPECT_EQ(VEX_post(task_b), FAIL);
  EXPECT_TRUE(VEXH_run_next_task());
  EXPECT_EQ(VEX_post(task_b), SUCCESS);
  VEXH_run_all_tasks();
  EXPECT_EQ(trace, "aaaaaaaab");
}

TEST_F(TaskRing, TasksPostedByATaskRunInTheSameDrain) {
  VEX_post(task_posting_b);
  VEX_post(task_a);
  VEXH_run_all_tasks();
  EXPECT_EQ(trace, "pab");
}

TEST_F(TaskRing, IndicesWrapAroundTheRing) {
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < 7; ++i) ASSERT_EQ(VEX_post(task_a), SUCCESS);
    VEXH_run_all_tasks();
  }
  EXPECT_EQ(trace.size(), 35u);
  EXPECT_EQ(VEXH_sched_full, VEXH_sched_free);
}
