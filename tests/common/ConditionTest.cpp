#include "common/VxCondition.h"
#include "common/VxError.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

int ErrorCode(const QString& text)
{
    try {
        EvaluateCondition(text);
    } catch (const VxError& e) {
        return e.code();
    }
    return 0;
}

TEST(ConditionTest, ModelFilterMatchesEitherNameExactly)
{
    const QString filter = R"("%1"="KTR-4200" | "%1"="KTR-4200A")";
    EXPECT_TRUE(EvaluateCondition(filter.arg("KTR-4200")));
    EXPECT_TRUE(EvaluateCondition(filter.arg("KTR-4200A")));
    EXPECT_FALSE(EvaluateCondition(filter.arg("KTR-4200B")));
    EXPECT_FALSE(EvaluateCondition(filter.arg("ktr-4200")));
    EXPECT_FALSE(EvaluateCondition(filter.arg("")));
}

TEST(ConditionTest, ComparisonsAreTextual)
{
    EXPECT_TRUE(EvaluateComparison("10<9"));
    EXPECT_FALSE(EvaluateComparison("10>9"));
    EXPECT_TRUE(EvaluateComparison("ab<abc")); // a proper prefix is smaller
    EXPECT_TRUE(EvaluateComparison("a<>b"));
    EXPECT_FALSE(EvaluateComparison("a<>a"));
    EXPECT_TRUE(EvaluateComparison("b>=a"));
    EXPECT_TRUE(EvaluateComparison("a>=a"));
    EXPECT_TRUE(EvaluateComparison("a<=a"));
    EXPECT_FALSE(EvaluateComparison("b<=a"));
    EXPECT_TRUE(EvaluateComparison("  a  =a"));
    EXPECT_TRUE(EvaluateComparison(R"( "a b" = a b )"));
    EXPECT_FALSE(EvaluateComparison(R"(" a"=a)")); // blanks inside quotes count
    EXPECT_TRUE(EvaluateComparison("="));          // two empty sides
    // The first operator of the list that occurs is used, at its first occurrence.
    EXPECT_TRUE(EvaluateComparison("a=b<>c")); // "<>": "a=b" vs "c"
    EXPECT_FALSE(EvaluateComparison("x=>y"));  // ">": "x=" vs "y"
}

TEST(ConditionTest, TruthWordsAndBadOperands)
{
    EXPECT_TRUE(EvaluateCondition("TRUE"));
    EXPECT_FALSE(EvaluateCondition("False"));
    EXPECT_EQ(ErrorCode("maybe"), -1);
    EXPECT_EQ(ErrorCode(""), -1);
    EXPECT_EQ(ErrorCode(" true"), -1); // a bare word is not trimmed
    try {
        EvaluateComparison("yes");
        FAIL();
    } catch (const VxError& e) {
        EXPECT_EQ(e.message(), "(VxCommon) Bad logic operand!");
    }
}

TEST(ConditionTest, OperatorsParenthesesAndShortCircuit)
{
    EXPECT_TRUE(EvaluateCondition("a=a & b=b"));
    EXPECT_FALSE(EvaluateCondition("a=a & b=c"));
    EXPECT_TRUE(EvaluateCondition("a=b | b=b"));
    EXPECT_TRUE(EvaluateCondition("(a=b | c=c)&d=d"));
    EXPECT_FALSE(EvaluateCondition("(a=b | c=d)&d=d"));
    EXPECT_TRUE(EvaluateCondition("((a=a))"));
    EXPECT_TRUE(EvaluateCondition("!(a=b)"));
    EXPECT_TRUE(EvaluateCondition("!a=b"));
    EXPECT_FALSE(EvaluateCondition("!!a=b"));
    EXPECT_TRUE(EvaluateCondition("a=b |!(c=d & e=e)"));
    // Whatever character stands first when "!" is the operator left is taken as the "!".
    EXPECT_FALSE(EvaluateCondition(" !a=b"));
    // "&" binds tighter than "|" because "|" splits first.
    EXPECT_TRUE(EvaluateCondition("a=a | b=c & d=e"));
    // The right part is never looked at once the left part decides.
    EXPECT_TRUE(EvaluateCondition("a=a | garbage"));
    EXPECT_FALSE(EvaluateCondition("a=b & garbage"));
    EXPECT_EQ(ErrorCode("a=b | garbage"), -1);
}

TEST(ConditionTest, BlanksAndTrailingOperators)
{
    // A parenthesised part followed by a blank leaves the term "true ".
    EXPECT_EQ(ErrorCode("(a=a) & b=b"), -1);
    EXPECT_TRUE(EvaluateCondition("a=a|"));
    EXPECT_EQ(ErrorCode("a=b|"), -1);
}

TEST(ConditionTest, OperatorsInsideTheFirstQuotesAreText)
{
    EXPECT_TRUE(EvaluateCondition(R"("a|b"="a|b")"));
    EXPECT_TRUE(EvaluateCondition(R"("a&b"="a&b")"));
    EXPECT_TRUE(EvaluateCondition(R"("Hi!"="Hi!")"));
    EXPECT_TRUE(EvaluateCondition(R"("(x"="(x")"));
    // Only the first pair of quotes protects: the next "|" splits.
    EXPECT_TRUE(EvaluateCondition(R"("x"="y" | "a|b"="a|b")"));
    EXPECT_FALSE(EvaluateCondition(R"("x"="y" | "a"="b")"));
}

TEST(ConditionTest, NowIsTheLocalDayCount)
{
    const qint64 today = QDate(1899, 12, 30).daysTo(QDate::currentDate());
    EXPECT_TRUE(EvaluateCondition("NOW>=" + QString::number(today)));
    EXPECT_TRUE(EvaluateCondition("now<" + QString::number(today + 1)));
    EXPECT_TRUE(EvaluateCondition(QString::number(today - 1) + "<Now"));
}

TEST(ConditionTest, HugeTextsAreEvaluatedOrRefusedWithoutCrashing)
{
    // Values in filters come from network replies; no text may exhaust the stack.
    QStringList terms;
    for (int i = 0; i < 5000; ++i)
        terms << "a=a";
    EXPECT_TRUE(EvaluateCondition(terms.join(" & ")));
    EXPECT_TRUE(EvaluateCondition(QString(20001, u'!') + "a=b"));
    EXPECT_EQ(ErrorCode(QString(10000, u'(') + "a=a" + QString(10000, u')')), -1);
    EXPECT_TRUE(EvaluateCondition(QString(50, u'(') + "a=a" + QString(50, u')')));
}

} // namespace
